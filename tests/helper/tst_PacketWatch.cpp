#include "HelperCall.h"
#include "PacketWatch.h"

#include <linux/filter.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

// The watch helper's socket and the watch that reads it, in a private network namespace where the
// test writes whole frames onto loopback itself: every flag mix, IP options, fragments, extension
// headers, payload. Each case ends with a marker frame; what arrived before it is what the case let
// through (the test stays on one CPU, so loopback keeps the order).
namespace {
using Bytes = QByteArray;

Bytes tcp(int flags, int payload = 0, int length = 20, int sourcePort = 4000, int port = 22)
{
    Bytes t(20, '\0');
    qToBigEndian<quint16>(quint16(sourcePort), t.data());
    qToBigEndian<quint16>(quint16(port), t.data() + 2);
    qToBigEndian<quint32>(0x5e9u + quint32(port), t.data() + 4);
    t[12] = char(5 << 4), t[13] = char(flags), t[14] = char(0xff);
    return t.left(length) + Bytes(payload, 'x');
}

Bytes ipv4(const Bytes& body, const char* from = "192.0.2.7", int optionWords = 0, int fragment = 0, int protocol = 6)
{
    Bytes h(20 + 4 * optionWords, '\x01'); // options: no-ops
    h[0] = char(0x45 + optionWords), h[1] = 0, h[8] = 64, h[9] = char(protocol), h[10] = h[11] = 0;
    qToBigEndian<quint16>(quint16(h.size() + body.size()), h.data() + 2);
    qToBigEndian<quint32>(0x1234, h.data() + 4);
    qToBigEndian<quint16>(quint16(fragment), h.data() + 6);
    qToBigEndian<quint32>(QHostAddress(from).toIPv4Address(), h.data() + 12);
    qToBigEndian<quint32>(INADDR_LOOPBACK, h.data() + 16);
    return h + body;
}

// With hopByHop an empty hop-by-hop options header sits between the IPv6 header and TCP.
Bytes ipv6(const Bytes& body, bool hopByHop = false)
{
    const Bytes options = hopByHop ? Bytes("\x06\x00\x01\x04\x00\x00\x00\x00", 8) : Bytes();
    Bytes h(40, '\0');
    h[0] = 0x60, h[6] = char(hopByHop ? 0 : 6), h[7] = 64;
    qToBigEndian<quint16>(quint16(options.size() + body.size()), h.data() + 4);
    h[23] = h[39] = 1; // ::1 to ::1
    return h + options + body;
}

enum Flag { F = 0x01, S = 0x02, R = 0x04, P = 0x08, A = 0x10, U = 0x20 };

QString flagNames(int flags)
{
    QString names;
    for (const char name : QByteArray("FSRPAU"))
        if (flags & 1 << QByteArray("FSRPAU").indexOf(name))
            names += QChar(name);
    return names.isEmpty() ? "-" : names;
}

const Bytes Marker = ipv4(tcp(S, 0, 20, 1, 1), "192.0.2.99");

// Opens and closes a connection over loopback with data both ways.
bool converse(const QString& address)
{
    QTcpServer server;
    QTcpSocket client;
    server.listen(QHostAddress(address));
    client.connectToHost(QHostAddress(address), server.serverPort());
    QTcpSocket* accepted = server.waitForNewConnection(5000) ? server.nextPendingConnection() : nullptr;
    if (!accepted)
        return false;
    client.write(QByteArray(3000, 'x'));
    accepted->write(QByteArray(3000, 'y'));
    return QTest::qWaitFor([&] { return client.bytesAvailable() == 3000 && accepted->bytesAvailable() == 3000; }, 5000);
}
} // namespace

class TestPacketWatch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(sched_getcpu(), &one);
        QVERIFY(::sched_setaffinity(0, sizeof one, &one) == 0);
        m_private = ::unshare(CLONE_NEWNET) == 0 && QProcess::execute("ip", { "link", "set", "lo", "up" }) == 0;
        m_sender = m_private ? ::socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, 0) : -1;
    }

    // Without the helper, or with one that may not run or answers nothing useful, the watch says so.
    void theWatchSaysWhyItIsNotArmed()
    {
        using enum PacketWatch::State;
        const std::pair<QString, PacketWatch::State> cases[] { { "", NeedsPrivilege },
            { "/nonexistent/sentrel-watch", NeedsPrivilege }, { "/dev/null", NeedsPrivilege },
            { "/bin/true", Failed }, { SENTREL_WATCH_HELPER, m_private ? Armed : NeedsPrivilege } };
        for (const auto& [helper, state] : cases) {
            PacketWatch watch(helper);
            QCOMPARE(watch.start(), state);
            QCOMPARE(watch.state(), state);
        }
    }

    // What each segment leaves of itself on the helper's socket: "length:flags" per packet, or nothing.
    // Headers only, whatever the payload and IP options; nothing of an established connection but its
    // first SYN; nothing that is a fragment, behind an extension header, too short, or not TCP.
    void theFilterPassesOnlyHeadersOfSegmentsThatOpenNoConnection()
    {
        if (!m_private)
            QSKIP("needs root and ip (iproute2): the test makes its own network namespace and writes raw frames");
        // IPv4 or IPv6 packets written onto loopback, or a connection over it to an address.
        const auto row = [this](const char* name, const QList<Bytes>& frames, const QStringList& arrived,
                             const QString& conversation = {}) {
            const int fd = watchSocket();
            QVERIFY2(fd >= 0, name);
            for (const Bytes& frame : frames)
                QVERIFY2(send(frame), name);
            QVERIFY2(conversation.isEmpty() || converse(conversation), name);
            QCOMPARE(name + (": " + arrivedBeforeMarker(fd).join(' ')), name + (": " + arrived.join(' ')));
            // The receiver can neither swap the filter nor remove it.
            sock_filter everything = BPF_STMT(BPF_RET | BPF_K, 0xffff);
            const sock_fprog wider { 1, &everything };
            QCOMPARE(::setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &wider, sizeof wider), -1);
            QCOMPARE(::setsockopt(fd, SOL_SOCKET, SO_DETACH_FILTER, nullptr, 0), -1);
            ::close(fd);
        };
        row("SYN with payload", { ipv4(tcp(S, 300)) }, { "40:S" });
        row("SYN with IP options", { ipv4(tcp(S, 10), "192.0.2.7", 3) }, { "52:S" });
        row("FIN, NULL, Xmas, SYN+FIN, FIN+PSH", { ipv4(tcp(F)), ipv4(tcp(0, 5)), ipv4(tcp(F | P | U)),
            ipv4(tcp(S | F)), ipv4(tcp(F | P, 9)) }, { "40:F", "40:-", "40:FPU", "40:FS", "40:FP" });
        row("any ACK or a bare RST", { ipv4(tcp(S | A)), ipv4(tcp(A, 50)), ipv4(tcp(F | A)), ipv4(tcp(R)),
            ipv4(tcp(R | A)), ipv4(tcp(F | P | U | A)) }, {});
        row("fragments", { ipv4(tcp(S), "192.0.2.7", 0, 0x2000), ipv4(tcp(S), "192.0.2.7", 0, 3),
            ipv4(tcp(F), "192.0.2.7", 0, 0x4000) }, { "40:F" });
        row("not TCP, or cut short", { ipv4(tcp(S), "192.0.2.7", 0, 0, 17), ipv4(tcp(S, 0, 13)) }, {});
        row("IPv6", { ipv6(tcp(S, 200)), ipv6(tcp(F | P | U)), ipv6(tcp(A)) }, { "60:S", "60:FPU" });
        row("IPv6 behind an extension header", { ipv6(tcp(S), true) }, {});
        row("a connection over 127.0.0.1", {}, { "40:S" }, "127.0.0.1");
        row("a connection over ::1", {}, { "60:S" }, "::1");
    }

    // The watch hands each probe over once, with its addresses, ports and flags; the same segment
    // seen twice (a bridge and its port) counts once.
    void theWatchReportsEachProbeOnce()
    {
        if (!m_private)
            QSKIP("needs root and ip (iproute2): the test makes its own network namespace and writes raw frames");
        PacketWatch watch(SENTREL_WATCH_HELPER);
        QCOMPARE(watch.start(), PacketWatch::State::Armed);
        QStringList seen;
        connect(&watch, &PacketWatch::probesSeen, this, [&seen](const QList<TcpProbe>& probes) {
            for (const TcpProbe& p : probes)
                seen << QString("%1:%2>%3:%4 %5").arg(p.source.toString()).arg(p.sourcePort)
                            .arg(p.destination.toString()).arg(p.destinationPort).arg(flagNames(p.flags));
        });
        for (const Bytes& frame : { ipv4(tcp(F)), ipv4(tcp(F)), ipv6(tcp(0, 0, 20, 5000, 23)),
                 ipv4(tcp(F), "192.0.2.8"), Marker })
            QVERIFY(send(frame));
        QTRY_VERIFY_WITH_TIMEOUT(seen.size() >= 4, 10000);
        QCOMPARE(seen, QStringList({ "192.0.2.7:4000>127.0.0.1:22 F", "::1:5000>::1:23 -",
                           "192.0.2.8:4000>127.0.0.1:22 F", "192.0.2.99:1>127.0.0.1:1 S" }));
        // A lone probe comes in a block of its own once the block times out: more blocks than the
        // ring has go round it, each given back to the kernel in turn.
        for (int i = 0; i < int(PacketRing::BlockCount) + 2; ++i) {
            QVERIFY(send(ipv4(tcp(S, 0, 20, 6000 + i))));
            QTRY_COMPARE_WITH_TIMEOUT(seen.size(), 5 + i, 2000);
            QCOMPARE(seen.last(), QString("192.0.2.7:%1>127.0.0.1:22 S").arg(6000 + i));
        }
        QCOMPARE(watch.dropped(), quint64(0));
    }

    void cleanupTestCase()
    {
        ::close(m_sender);
    }

private:
    int watchSocket()
    {
        const std::uint8_t request[] = { 'S', 'W', 1 };
        HelperReply reply = callHelper(SENTREL_WATCH_HELPER, request, sizeof request, 4, 1, 10000);
        return reply.answered && reply.bytes == std::vector<std::uint8_t> { 'S', 'W', 1, 0 } && reply.fds.size() == 1
            ? reply.fds[0] : -1;
    }

    bool send(const Bytes& packet)
    {
        const auto protocol = htons(packet[0] >> 4 == 6 ? ETH_P_IPV6 : ETH_P_IP);
        sockaddr_ll to { .sll_family = AF_PACKET, .sll_protocol = protocol,
            .sll_ifindex = int(::if_nametoindex("lo")), .sll_hatype = 0, .sll_pkttype = 0,
            .sll_halen = ETH_ALEN, .sll_addr = {} };
        return ::sendto(m_sender, packet.constData(), std::size_t(packet.size()), 0,
                   reinterpret_cast<sockaddr*>(&to), sizeof to) == packet.size();
    }

    QStringList arrivedBeforeMarker(int fd)
    {
        QStringList arrived;
        if (!send(Marker))
            return { "the marker could not be sent" };
        char packet[2000];
        for (pollfd ready { fd, POLLIN, 0 }; ::poll(&ready, 1, 10000) == 1;) {
            const ssize_t size = ::recv(fd, packet, sizeof packet, 0);
            const int tcpAt = size > 0 && packet[0] >> 4 == 6 ? 40 : (packet[0] & 0x0f) * 4;
            if (size == 40 && Bytes(packet, 40) == Marker)
                return arrived;
            arrived << (size > tcpAt + 13 ? QString("%1:%2").arg(size).arg(flagNames(packet[tcpAt + 13])) : "cut short");
        }
        return arrived << "no marker";
    }

    bool m_private = false;
    int m_sender = -1;
};

QTEST_GUILESS_MAIN(TestPacketWatch)
#include "tst_PacketWatch.moc"
