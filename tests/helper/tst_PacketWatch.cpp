#include "PacketWatch.h"
#include "WatchRecords.h"

#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

// The helper's own writer, to be read by the program's reader.
#define SENTREL_WATCH_NO_MAIN
#include "../../helper/sentrel-watch.cpp"

// The watch helper and the watch reading its records, in a private network namespace where the test
// writes whole frames onto loopback. Each case ends with a marker frame; what was reported before it
// is what the case let through (on one CPU, loopback keeps the order).
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

Bytes ipv4(const Bytes& body, const char* from = "192.0.2.7", int optionWords = 0, int fragment = 0, int protocol = 6,
    const char* to = "127.0.0.1")
{
    Bytes h(20 + 4 * optionWords, '\x01'); // options: no-ops
    h[0] = char(0x45 + optionWords), h[1] = 0, h[8] = 64, h[9] = char(protocol), h[10] = h[11] = 0;
    qToBigEndian<quint16>(quint16(h.size() + body.size()), h.data() + 2);
    qToBigEndian<quint32>(0x1234, h.data() + 4);
    qToBigEndian<quint16>(quint16(fragment), h.data() + 6);
    qToBigEndian<quint32>(QHostAddress(from).toIPv4Address(), h.data() + 12);
    qToBigEndian<quint32>(QHostAddress(to).toIPv4Address(), h.data() + 16);
    return h + body;
}

// Extension headers between IPv6 and TCP: empty hop-by-hop options, or fragment headers.
const Bytes HopByHop("\x06\0\x01\x04\0\0\0\0", 8), AtomicFragment("\x06\0\0\0\0\0\0\x77", 8),
    FirstFragment("\x06\0\0\x01\0\0\0\x77", 8), LaterFragment("\x06\0\0\x11\0\0\0\x77", 8);
Bytes ipv6(const Bytes& body, const Bytes& extension = {}, const char* to = "::1")
{
    Bytes h(40, '\0');
    h[0] = 0x60, h[6] = char(extension.isEmpty() ? 6 : extension == HopByHop ? 0 : 44), h[7] = 64;
    qToBigEndian<quint16>(quint16(extension.size() + body.size()), h.data() + 4);
    h[23] = 1; // from ::1
    const Q_IPV6ADDR destination = QHostAddress(to).toIPv6Address();
    std::memcpy(h.data() + 24, &destination, 16);
    return h + extension + body;
}

enum Flag { F = 0x01, S = 0x02, R = 0x04, P = 0x08, A = 0x10, U = 0x20 };

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

// "source:port>destination:port flags" ("-" for none) [fragment].
QString describe(const TcpProbe& p)
{
    QString flags;
    for (int bit = 0; bit < 6; ++bit)
        if (p.flags & 1 << bit)
            flags += QLatin1Char("FSRPAU"[bit]);
    return QString("%1:%2>%3:%4 %5%6").arg(p.source.toString()).arg(p.sourcePort).arg(p.destination.toString())
        .arg(p.destinationPort).arg(flags.isEmpty() ? "-" : flags).arg(p.fragment ? " fragment" : "");
}

// A segment as the helper has it, or a record as the program reads it, as one line.
template <typename Fields> QString fieldsOf(const Fields& f)
{
    const auto hex = [](const auto& a) { return QByteArray(reinterpret_cast<const char*>(a.data()), 16).toHex(); };
    return QString("%1 %2 %3 %4>%5 %6 %7>%8").arg(int(f.family)).arg(f.fragment ? "fragment" : "whole")
        .arg(f.flags, 2, 16, QChar('0')).arg(f.sourcePort).arg(f.destinationPort).arg(f.sequence, 8, 16, QChar('0'))
        .arg(hex(f.source), hex(f.destination));
}

QStringList packetSocketHolders()
{
    QProcess ss;
    ss.start("ss", { "-0", "-H", "-p" });
    QStringList pids;
    const QByteArray table = ss.waitForFinished() ? ss.readAll() : QByteArray();
    for (const auto& match : QRegularExpression("pid=(\\d+)").globalMatch(table))
        pids << match.captured(1);
    return pids;
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

    // Without a working helper the watch says so. Armed, what each row's frames became (by flags, or in
    // full where the row says so). The packet socket stays in the helper, which then holds no
    // capability and ends with the watch.
    void theWatchReportsEachProbeToThisHostOnce()
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
        if (!m_private)
            QSKIP("needs root and ip (iproute2): the test makes its own network namespace and writes raw frames");
        auto watch = std::make_unique<PacketWatch>(SENTREL_WATCH_HELPER);
        QCOMPARE(watch->start(), Armed);
        QStringList helpers = packetSocketHolders();
        QCOMPARE(helpers.removeAll(QString::number(::getpid())), 1); // its own, for writing frames
        QCOMPARE(helpers.size(), 1);
        QFile status(QString("/proc/%1/status").arg(helpers[0]));
        QVERIFY(status.open(QIODevice::ReadOnly));
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("Cap") && !line.startsWith("CapBnd"))
                QCOMPARE(line.simplified().split(' ').last(), QByteArray("0000000000000000"));
            else if (line.startsWith("NoNewPrivs"))
                QCOMPARE(line.simplified(), QByteArray("NoNewPrivs: 1"));

        QStringList seen;
        connect(watch.get(), &PacketWatch::probesSeen, this, [&seen](const QList<TcpProbe>& probes) {
            for (const TcpProbe& p : probes)
                seen << (p.destinationPort == 1 ? "marker" : describe(p));
        });
        int markers = 0;
        const auto row = [&](const char* name, const QList<Bytes>& frames, const QStringList& arrived,
                             const QString& conversation = {}) {
            seen.clear();
            for (const Bytes& frame : frames)
                QVERIFY2(send(frame), name);
            QVERIFY2(conversation.isEmpty() || converse(conversation), name);
            // Each marker its own segment: the same one again would count as seen twice.
            QVERIFY2(send(ipv4(tcp(S, 0, 20, 100 + ++markers, 1), "192.0.2.99")), name);
            QTRY_VERIFY2_WITH_TIMEOUT(seen.contains("marker"), name, 10000);
            seen.removeAll("marker");
            for (qsizetype i = 0; i < seen.size(); ++i)
                seen[i] = arrived.value(i).contains('>') ? seen[i] : seen[i].section(' ', 1, -1);
            QCOMPARE(name + (": " + seen.join(' ')), name + (": " + arrived.join(' ')));
        };
        const auto ip = [](const QStringList& arguments) { return QProcess::execute("ip", arguments) == 0; };
        row("the same segment twice counts once", { ipv4(tcp(F, 0, 20, 4100)), ipv4(tcp(F, 0, 20, 4100)),
            ipv6(tcp(0, 0, 20, 5000, 23)), ipv4(tcp(F, 0, 20, 4100), "192.0.2.8") },
            { "192.0.2.7:4100>127.0.0.1:22 F", "::1:5000>::1:23 -", "192.0.2.8:4100>127.0.0.1:22 F" });
        row("SYN with payload, SYN with IP options", { ipv4(tcp(S, 300)), ipv4(tcp(S, 10, 20, 4001), "192.0.2.7", 3) },
            { "S", "S" });
        row("FIN, NULL, Xmas, SYN+FIN, FIN+PSH", { ipv4(tcp(F)), ipv4(tcp(0, 5)), ipv4(tcp(F | P | U)),
            ipv4(tcp(S | F)), ipv4(tcp(F | P, 9)) }, { "F", "-", "FPU", "FS", "FP" });
        row("any ACK or a bare RST", { ipv4(tcp(S | A)), ipv4(tcp(A, 50)), ipv4(tcp(F | A)), ipv4(tcp(R)),
            ipv4(tcp(R | A)), ipv4(tcp(F | P | U | A)) }, {});
        row("IPv4 fragments", { ipv4(tcp(S), "192.0.2.7", 0, 0x2000 | 3), ipv4(tcp(F, 0, 20, 4004), "192.0.2.7", 0, 0x4000),
            ipv4(tcp(S, 0, 8), "192.0.2.7", 0, 0x2000), ipv4(tcp(A, 100, 20, 4002), "192.0.2.7", 0, 0x2000),
            ipv4(tcp(S, 100, 20, 4003), "192.0.2.7", 0, 0x2000) }, { "F", "- fragment", "S" });
        row("not TCP, or cut short", { ipv4(tcp(S), "192.0.2.7", 0, 0, 17), ipv4(tcp(S, 0, 13)) }, {});
        row("IPv6", { ipv6(tcp(S, 200)), ipv6(tcp(F | P | U)), ipv6(tcp(A)) }, { "S", "FPU" });
        row("IPv6 behind an extension header", { ipv6(tcp(S), HopByHop),
            ipv6(tcp(S), LaterFragment) }, {});
        row("IPv6 atomic and short first fragments", { ipv6(tcp(S), AtomicFragment),
            ipv6(tcp(A, 0, 20, 4001), AtomicFragment), ipv6(tcp(S, 0, 8, 4002), FirstFragment) },
            { "S fragment", "- fragment" });
        row("to other hosts", { ipv4(tcp(S), "172.17.0.2", 0, 0, 6, "198.51.100.5"),
            ipv4(tcp(F), "172.17.0.2", 0, 0, 6, "192.0.2.50"), ipv4(tcp(S, 0, 8), "172.17.0.2", 0, 0x2000, 6, "198.51.100.5"),
            ipv6(tcp(S), {}, "2001:db8::5"), ipv6(tcp(S), AtomicFragment, "2001:db8::5") }, {});
        QVERIFY(ip({ "addr", "add", "192.0.2.50/32", "dev", "lo" }) && ip({ "addr", "add", "2001:db8::50/128", "dev", "lo", "nodad" }));
        row("to addresses added since", { ipv4(tcp(F), "172.17.0.2", 0, 0, 6, "192.0.2.50"),
            ipv6(tcp(S), {}, "2001:db8::50") }, { "F", "S" });
        QVERIFY(ip({ "addr", "del", "192.0.2.50/32", "dev", "lo" }) && ip({ "addr", "del", "2001:db8::50/128", "dev", "lo" }));
        row("to addresses removed since", { ipv4(tcp(F, 0, 20, 4001), "172.17.0.2", 0, 0, 6, "192.0.2.50"),
            ipv6(tcp(S, 0, 20, 4001), {}, "2001:db8::50") }, {});
        row("a connection over 127.0.0.1", {}, { "S" }, "127.0.0.1");
        row("a connection over ::1", {}, { "S" }, "::1");
        // More lone probes than the helper's ring has blocks: each comes on its own in time.
        seen.clear();
        for (int i = 0; i < 66; ++i) {
            QVERIFY(send(ipv4(tcp(S, 0, 20, 6000 + i))));
            QTRY_COMPARE_WITH_TIMEOUT(seen.size(), i + 1, 2000);
            QCOMPARE(seen.last(), QString("192.0.2.7:%1>127.0.0.1:22 S").arg(6000 + i));
        }
        QCOMPARE(watch->dropped(), quint64(0));
        // Not reading, this process loses records, counted; the helper neither blocks nor grows.
        seen.clear();
        constexpr int Sent = 30000;
        for (int i = 0; i < Sent; ++i)
            QVERIFY(send(ipv4(tcp(S, 0, 20, 1024 + i, 22), "192.0.2.9")));
        QThread::msleep(1500); // the helper fills the socket pair and drops
        QTRY_COMPARE_WITH_TIMEOUT(quint64(seen.size()) + watch->dropped(), quint64(Sent), 10000);
        QVERIFY(watch->dropped() > 0);
        row("after the loss", {}, {});
        QCOMPARE(watch->state(), Armed);
        watch.reset();
        QVERIFY(!QFile::exists("/proc/" + helpers[0]));
    }

    // The helper's writer on a real socket pair, read back field for field: two extreme segments and
    // those of the watch's fuzz corpus, a full batch going out by itself. A good batch with one byte or
    // its length changed reads as a row says: which of its first two records read, "none" for no batch.
    void theProgramReadsTheRecordsTheHelperWrites()
    {
        namespace W = sentrel_watch;
        const auto bytes = [](const QByteArray& b) { return reinterpret_cast<const std::uint8_t*>(b.constData()); };
        std::vector<W::Segment> segments { { 6, true, 0xff, 0xfffe, 1, 0x89abcdef,
            { 0xfe, 0x80, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14 },
            { 0x20, 0x01, 0x0d, 0xb8, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa, 0xfb, 0xfc } },
            { 4, false, 0xc2, 0x1234, 0xabcd, 0x01020304, { 192, 0, 2, 7 }, { 198, 51, 100, 5 } } };
        for (const QFileInfo& file : QDir(SENTREL_WATCH_CORPUS).entryInfoList(QDir::Files)) {
            QFile in(file.filePath());
            const QByteArray input = in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
            if (const auto s = input.size() > 1 ? W::readSegment(bytes(input) + 1, input.size() - 1) : std::nullopt)
                segments.push_back(*s);
        }
        QVERIFY(segments.size() > 20);

        int pair[2] = { -1, -1 };
        QVERIFY(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) == 0);
        const auto out = std::make_unique<W::BatchWriter>(pair[0]);
        out->kernelDropped(0x01020304);
        for (std::size_t i = 0; i < W::MaxRecords + segments.size(); ++i)
            QVERIFY(out->add(segments[i % segments.size()]));
        QVERIFY(out->flush());
        QByteArray message(int(WatchRecords::MaxBatch) + 1, '\0');
        std::size_t next = 0;
        for (const std::size_t count : { W::MaxRecords, segments.size() }) {
            const ssize_t size = ::recv(pair[1], message.data(), std::size_t(message.size()), MSG_DONTWAIT);
            const auto batch = WatchRecords::readBatch(bytes(message), std::size_t(std::max<ssize_t>(size, 0)));
            QVERIFY(batch);
            QCOMPARE(batch->count, count);
            QCOMPARE(batch->kernelDropped, next == 0 ? 0x01020304u : 0u);
            QCOMPARE(batch->helperDropped, 0u);
            for (std::size_t k = 0; k < count; ++k, ++next) {
                const auto record = WatchRecords::readRecord(bytes(message), k);
                QVERIFY(record);
                QCOMPARE(fieldsOf(*record), fieldsOf(segments[next % segments.size()]));
            }
        }
        QCOMPARE(::recv(pair[1], message.data(), 1, MSG_DONTWAIT), ssize_t(-1));
        ::close(pair[0]);
        ::close(pair[1]);

        // Room for one record more than a batch holds: an IPv4 record, an IPv6 one, zeros.
        constexpr int R0 = 12, R1 = 56, Whole = R1 + 44, Overfull = 12 + 44 * 1025;
        QByteArray good(Overfull, '\0');
        W::writeBatchHeader(7, 9, reinterpret_cast<std::uint8_t*>(good.data()));
        W::writeRecord(segments[1], reinterpret_cast<std::uint8_t*>(good.data()) + R0);
        W::writeRecord(segments[0], reinterpret_cast<std::uint8_t*>(good.data()) + R1);
        const struct
        {
            const char* name;
            int at;
            char to;
            int size;
            const char* read;
        } rows[] = { { "as written", 0, 'S', Whole, "01" }, { "another magic", 1, 'X', Whole, "none" },
            { "another version", 2, 1, Whole, "none" }, { "header padding", 3, 1, Whole, "none" },
            { "a byte short", 0, 'S', Whole - 1, "none" }, { "a header alone", 0, 'S', 12, "" },
            { "one record", 0, 'S', R1, "0" }, { "a full batch", 0, 'S', Overfull - 44, "01" },
            { "one record too many", 0, 'S', Overfull, "none" }, { "family 5", R0, 5, Whole, "1" },
            { "the fragment fact", R0 + 1, 1, Whole, "01" }, { "an unknown fact", R1 + 1, 2, Whole, "0" },
            { "record padding", R1 + 3, 1, Whole, "0" }, { "an IPv4 source's tail", R0 + 12, 1, Whole, "1" },
            { "its source's last byte", R0 + 23, 1, Whole, "1" }, { "an IPv4 destination's tail", R0 + 28, 1, Whole, "1" },
            { "its destination's last byte", R0 + 39, 1, Whole, "1" }, { "an IPv6 address's last bytes", R1 + 39, 1, Whole, "01" } };
        for (const auto& row : rows) {
            QByteArray sample = good.left(row.size);
            sample[row.at] = row.to;
            const auto batch = WatchRecords::readBatch(bytes(sample), std::size_t(sample.size()));
            QString read = batch ? "" : "none";
            for (std::size_t k = 0; batch && k < std::min<std::size_t>(batch->count, 2); ++k)
                read += WatchRecords::readRecord(bytes(sample), k) ? QString::number(k) : "";
            QCOMPARE(row.name + (": " + read), row.name + (": " + QString(row.read)));
        }
    }

    void cleanupTestCase()
    {
        ::close(m_sender);
    }

private:
    bool send(const Bytes& packet)
    {
        const auto protocol = htons(packet[0] >> 4 == 6 ? ETH_P_IPV6 : ETH_P_IP);
        sockaddr_ll to { .sll_family = AF_PACKET, .sll_protocol = protocol,
            .sll_ifindex = int(::if_nametoindex("lo")), .sll_hatype = 0, .sll_pkttype = 0,
            .sll_halen = ETH_ALEN, .sll_addr = {} };
        return ::sendto(m_sender, packet.constData(), std::size_t(packet.size()), 0,
                   reinterpret_cast<sockaddr*>(&to), sizeof to) == packet.size();
    }

    bool m_private = false;
    int m_sender = -1;
};

QTEST_GUILESS_MAIN(TestPacketWatch)
#include "tst_PacketWatch.moc"
