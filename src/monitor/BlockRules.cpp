#include "BlockRules.h"

#include "RouteTables.h"

#include <QFile>
#include <QNetworkInterface>

namespace {
bool holds(const QList<QHostAddress>& list, const QHostAddress& address)
{
    for (const QHostAddress& entry : list) {
        if (BlockRules::firewallAddress(entry) == address)
            return true;
    }
    return false;
}

bool readProc(const char* path, QByteArray& text)
{
    QFile file(QString::fromLatin1(path));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    text = file.read(1 << 20);
    return true;
}
} // namespace

namespace BlockRules {

QHostAddress firewallAddress(const QHostAddress& address)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    QHostAddress result = isV4 ? QHostAddress(v4) : address;
    result.setScopeId(QString());
    return result;
}

QString refusal(const QHostAddress& original, bool spoofable, bool automatic, const AllowList& allow,
    const Protected& kept)
{
    const QHostAddress address = firewallAddress(original);
    if (address.isNull() || address.protocol() == QAbstractSocket::AnyIPProtocol)
        return QStringLiteral("not an address");
    if (automatic && spoofable)
        return QStringLiteral("the address may be forged");
    if (address.isLoopback() || address == QHostAddress::AnyIPv4 || address == QHostAddress::AnyIPv6)
        return QStringLiteral("this machine");
    if (address.isLinkLocal())
        return QStringLiteral("a link-local address");
    if (address.isMulticast() || address.isBroadcast())
        return QStringLiteral("not a single host");
    if (holds(kept.own, address))
        return QStringLiteral("this machine");
    if (holds(kept.gateways, address))
        return QStringLiteral("the default gateway");
    if (automatic && allow.contains(address))
        return QStringLiteral("on the allow list");
    if (automatic && !kept.routesRead)
        return QStringLiteral("the default gateway is unknown");
    return {};
}

Protected current()
{
    // Through /proc/self: a service that sees only the process folders of /proc still sees it.
    QByteArray ipv4;
    QByteArray ipv6;
    const bool read = readProc("/proc/self/net/route", ipv4);
    readProc("/proc/self/net/ipv6_route", ipv6); // absent where the kernel has no IPv6
    return { QNetworkInterface::allAddresses(), RouteTables::defaultGateways(ipv4, ipv6), read };
}

} // namespace BlockRules
