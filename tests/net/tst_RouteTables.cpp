#include "DefaultRouteProbe.h"
#include "RouteDump.h"
#include "RouteTables.h"

#include <net/if.h>
#include <sched.h>
#include <unistd.h>

// Lines as the kernel writes them (captured on Debian 12), trailing blanks and all.
const QByteArray Ipv4Header
    = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT"
      "                                                       \n";
const QByteArray Ipv4Default
    = "eth0\t00000000\t010200C0\t0003\t0\t0\t0\t00000000\t0\t0\t0"
      "                                                                               \n";
const QByteArray Ipv4Subnet = "eth0\t000200C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n";
const QByteArray Ipv6Subnet
    = "fd000000000000000000000000000000 40 00000000000000000000000000000000 00 "
      "00000000000000000000000000000000 00000100 00000001 00000000 00000001     eth0\n";
const QByteArray Ipv6Default
    = "00000000000000000000000000000000 00 00000000000000000000000000000000 00 "
      "fd000000000000000000000000000001 00000400 00000002 00000000 00000003     eth0\n";
// Every IPv6 table carries this one: "unreachable" on the loopback.
const QByteArray Ipv6LoReject
    = "00000000000000000000000000000000 00 00000000000000000000000000000000 00 "
      "00000000000000000000000000000000 ffffffff 00000001 00000000 00200200       lo\n";

// A working eth0, eth1 configured but administratively down, a tunnel without carrier.
const RouteTables::InterfaceFlags Host { { "lo", IFF_UP | IFF_RUNNING | IFF_LOOPBACK },
    { "eth0", IFF_UP | IFF_RUNNING | IFF_BROADCAST | IFF_MULTICAST }, { "eth1", IFF_RUNNING },
    { "ppp0", IFF_UP | IFF_POINTOPOINT | IFF_NOARP } };

class TestRouteTables : public QObject
{
    Q_OBJECT

private slots:
    // The default routes found (IPv4 ones first), and whether one of them is usable on this host.
    void defaultRouteOnAUsableInterface()
    {
        const QByteArray v4 = Ipv4Header + Ipv4Subnet, v6 = Ipv6Subnet + Ipv6LoReject;
        const auto onV4
            = [&](const char* name) { return v4 + QByteArray(Ipv4Default).replace("eth0", name); };
        // Row: name, the IPv4 and IPv6 tables, and "defaults found: usable or not".
        const std::tuple<const char*, QByteArray, QByteArray, const char*> rows[] {
            { "IPv4 default", v4 + Ipv4Default, v6, "eth0: up" },
            { "IPv6 default", v4, Ipv6Default + v6, "eth0: up" },
            { "no default route", v4, v6, ": down" },
            { "reject default", v4 + QByteArray(Ipv4Default).replace("\t0003\t", "\t0203\t"), v6, ": down" },
            // A route through a tunnel that lost its carrier: the kernel keeps it, marked "linkdown".
            { "linkdown default", onV4("ppp0"), v6, "ppp0: down" },
            { "interface down", onV4("eth1"), v6, "eth1: down" },
            { "interface gone", onV4("eth9"), v6, "eth9: down" },
            { "default on loopback", onV4("lo"), QByteArray(), "lo: down" },
            { "garbage", "\n\t\n00000000\n", "0 0 0\n", ": down" },
        };
        for (const auto& [name, ipv4, ipv6, expected] : rows) {
            const QStringList found
                = RouteTables::ipv4DefaultInterfaces(ipv4) + RouteTables::ipv6DefaultInterfaces(ipv6);
            QCOMPARE(
                name + (' ' + found.join(',')) + (RouteTables::anyUsable(found, Host) ? ": up" : ": down"),
                name + (' ' + QString(expected)));
        }
    }

    // The probe reads this machine's tables and links: in a network namespace of the test's own (so a
    // test program of its own), a default route of either family over a link that is up makes it true.
    void probeReadsTheKernelsTables()
    {
        if (::geteuid() != 0 || ::unshare(CLONE_NEWNET) != 0)
            QSKIP("needs root for a network namespace of its own");
        const auto ip = [](const QString& args) { return QProcess::execute("ip", args.split(' ')) == 0; };
        if (!ip("link add t0 type veth peer name t1"))
            QSKIP("needs ip (iproute2) and virtual Ethernet links");
        DefaultRouteProbe probe;
        QVERIFY(ip("link set t0 up") && ip("link set t1 up") && !probe.isRemoteConnectionActive());
        for (const char* family : { "-4", "-6" }) {
            QVERIFY(ip(QString("%1 route add default dev t0").arg(family)));
            QVERIFY2(probe.isRemoteConnectionActive(), family);
            QVERIFY(ip(QString("%1 route del default dev t0").arg(family)));
            QVERIFY2(!probe.isRemoteConnectionActive(), family);
        }
    }

    // What the kernel's dumps say blocking must never take: every hop of a multipath default
    // route, a policy table's default, a hop through another family (RTA_VIA) and the machine's
    // addresses with its subnet's broadcast; not a subnet's route nor an unreachable default.
    void protectedFromDump()
    {
        // Netlink's lengths and types are in host order (little-endian here); each piece pads to 4 bytes.
        const auto pad = [](QByteArray b) { return b.append((4 - b.size() % 4) % 4, '\0'); };
        const auto bytes
            = [](std::initializer_list<char> b) { return QByteArray(b.begin(), qsizetype(b.size())); };
        const auto le16 = [&](qsizetype v) { return bytes({ char(v & 0xff), char(v >> 8) }); };
        const auto attr = [&](int type, const QByteArray& payload) {
            return pad(le16(4 + payload.size()) + le16(type) + payload);
        };
        QByteArray dump;
        const auto message = [&](int type, const QByteArray& body) {
            dump += pad(le16(16 + body.size()) + le16(0) + le16(type) + QByteArray(10, '\0') + body);
        };
        const auto ip = [](const char* text) { // network order; an IPv4 address is the last 4 bytes mapped
            const QHostAddress a(QString::fromLatin1(text));
            return QByteArray(reinterpret_cast<const char*>(a.toIPv6Address().c), 16)
                .right(a.protocol() == QAbstractSocket::IPv4Protocol ? 4 : 16);
        };
        // family, destination length, table, type (RTN_UNICAST 1, RTN_UNREACHABLE 7)
        const auto route = [&](char family, char length, char table, char type) {
            return bytes({ family, length, 0, 0, table, 3, 0, type, 0, 0, 0, 0 });
        };
        const auto hop = [&](const char* gateway) {
            const QByteArray a = attr(RTA_GATEWAY, ip(gateway));
            return le16(8 + a.size()) + QByteArray(6, '\0') + a;
        };
        message(RTM_NEWROUTE,
            route(AF_INET, 0, char(254), 1) + attr(RTA_MULTIPATH, hop("192.0.2.1") + hop("192.0.2.9")));
        message(RTM_NEWROUTE, route(AF_INET6, 0, 100, 1) + attr(RTA_GATEWAY, ip("2001:db8::1")));
        message(RTM_NEWROUTE,
            route(AF_INET, 0, 101, 1) + attr(RTA_VIA, QByteArray("\x0a\x00", 2) + ip("2001:db8::3")));
        message(RTM_NEWROUTE, route(AF_INET6, 0, char(254), 7) + attr(RTA_GATEWAY, ip("2001:db8::99")));
        message(RTM_NEWROUTE, route(AF_INET, 24, char(254), 1) + attr(RTA_GATEWAY, ip("192.0.2.77")));
        message(RTM_NEWADDR,
            QByteArray("\x02\x18\0\0\x02\0\0\0", 8) + attr(IFA_LOCAL, ip("192.0.2.50"))
                + attr(IFA_BROADCAST, ip("192.0.2.255")));
        message(NLMSG_DONE, QByteArray(4, '\0'));
        alignas(8) static std::uint8_t buffer[4096];
        std::memcpy(buffer, dump.constData(), std::size_t(dump.size()));
        static RouteDump::Kept kept;
        bool done = false;
        QVERIFY(RouteDump::read(buffer, std::size_t(dump.size()), kept, done) && done);
        const auto text = [](const auto& a) {
            return (a.family == 4 ? QHostAddress(qFromBigEndian<quint32>(a.bytes.data()))
                                  : QHostAddress(a.bytes.data()))
                .toString();
        };
        QStringList found;
        for (std::size_t i = 0; i < kept.gatewayCount; ++i)
            found << text(kept.gateways[i]);
        for (std::size_t i = 0; i < kept.ownCount; ++i)
            found << "own " + text(kept.own[i]);
        QCOMPARE(found.join(", "),
            "192.0.2.1, 192.0.2.9, 2001:db8::1, 2001:db8::3, own 192.0.2.50, own 192.0.2.255");
    }
};

QTEST_GUILESS_MAIN(TestRouteTables)
#include "tst_RouteTables.moc"
