#include "RouteTables.h"

#include "RouteDump.h"

#include <QList>

#include <memory>

#include <net/if.h>

namespace {
constexpr unsigned RouteUp = 0x0001; // RTF_UP
constexpr unsigned RouteReject = 0x0200; // RTF_REJECT: an unreachable route, not a way out

QList<QByteArrayList> rows(const QByteArray& text)
{
    QList<QByteArrayList> result;
    for (const QByteArray& line : text.split('\n')) {
        QByteArrayList fields = line.simplified().split(' ');
        if (!fields.isEmpty() && !fields.first().isEmpty())
            result.append(fields);
    }
    return result;
}

bool isAllZeros(const QByteArray& hex)
{
    return !hex.isEmpty() && hex.count('0') == hex.size();
}

bool isUsableRoute(const QByteArray& flagsHex)
{
    bool ok = false;
    const unsigned flags = flagsHex.toUInt(&ok, 16);
    return ok && (flags & RouteUp) && !(flags & RouteReject);
}
} // namespace

namespace RouteTables {

QStringList ipv4DefaultInterfaces(const QByteArray& procNetRoute)
{
    // Iface Destination Gateway Flags RefCnt Use Metric Mask MTU Window IRTT; the first row is the
    // header, whose Destination is not hexadecimal and so never matches.
    QStringList interfaces;
    for (const QByteArrayList& f : rows(procNetRoute)) {
        if (f.size() >= 8 && isAllZeros(f[1]) && isAllZeros(f[7]) && isUsableRoute(f[3]))
            interfaces.append(QString::fromLatin1(f[0]));
    }
    return interfaces;
}

QStringList ipv6DefaultInterfaces(const QByteArray& procNetIpv6Route)
{
    // Destination, prefix length, source, source prefix length, next hop, metric, reference
    // count, use, flags, interface; no header.
    QStringList interfaces;
    for (const QByteArrayList& f : rows(procNetIpv6Route)) {
        if (f.size() >= 10 && f[0].size() == 32 && isAllZeros(f[0]) && f[1] == "00" && isUsableRoute(f[8]))
            interfaces.append(QString::fromLatin1(f[9]));
    }
    return interfaces;
}

bool readProtected(QList<IpAddress>& own, QList<IpAddress>& gateways)
{
    const auto kept = std::make_unique<RouteDump::Kept>();
    if (!RouteDump::dump(*kept))
        return false;
    const auto toAddress = [](const RouteDump::Address& a) {
        return a.family == 4 ? IpAddress::fromIpv4(a.bytes.data()) : IpAddress::fromIpv6(a.bytes.data());
    };
    for (std::size_t i = 0; i < kept->ownCount; ++i)
        own.append(toAddress(kept->own[i]));
    for (std::size_t i = 0; i < kept->gatewayCount; ++i)
        gateways.append(toAddress(kept->gateways[i]));
    return true;
}

bool anyUsable(const QStringList& interfaces, const InterfaceFlags& flags)
{
    for (const QString& name : interfaces) {
        const auto it = flags.constFind(name);
        if (it == flags.constEnd())
            continue;
        if ((*it & IFF_UP) && (*it & IFF_RUNNING) && !(*it & IFF_LOOPBACK))
            return true;
    }
    return false;
}

} // namespace RouteTables
