#include "RouteTables.h"

#include <net/if.h>

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
        const auto onV4 = [&](const char* name) { return v4 + QByteArray(Ipv4Default).replace("eth0", name); };
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

    // The next hops of the usable default routes: addresses blocking must never take.
    void defaultGateways()
    {
        const QByteArray rejected = QByteArray(Ipv4Default).replace("\t0003\t", "\t0203\t").replace("010200C0", "020200C0");
        const QList<QHostAddress> found = RouteTables::defaultGateways(
            Ipv4Header + Ipv4Subnet + Ipv4Default + rejected, Ipv6Subnet + Ipv6Default + Ipv6LoReject);
        QCOMPARE(found, (QList<QHostAddress> { QHostAddress("192.0.2.1"), QHostAddress("fd00::1") }));
    }
};

QTEST_GUILESS_MAIN(TestRouteTables)
#include "tst_RouteTables.moc"
