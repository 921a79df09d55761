#include "BlockRules.h"

#include "HostAddress.h"
#include "RouteTables.h"

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
    // The same addresses the firewall helper refuses outright, so that none spoils a call.
    if (address.isLoopback() || address == QHostAddress::AnyIPv6 || address.isInSubnet(QHostAddress::AnyIPv4, 8))
        return QStringLiteral("this machine");
    if (address.isLinkLocal())
        return QStringLiteral("a link-local address");
    if (address.isMulticast() || address.isInSubnet(QHostAddress(QStringLiteral("240.0.0.0")), 4))
        return QStringLiteral("not a single host");
    if (holds(kept.own, address))
        return QStringLiteral("this machine");
    if (holds(kept.gateways, address))
        return QStringLiteral("the default gateway");
    if (automatic && allow.contains(fromHostAddress(address)))
        return QStringLiteral("on the allow list");
    if (automatic && !kept.routesRead)
        return QStringLiteral("the default gateway is unknown");
    return {};
}

Protected current()
{
    Protected kept;
    kept.routesRead = RouteTables::readProtected(kept.own, kept.gateways);
    // Where netlink is not allowed (a service without it blocks nothing automatically), the
    // interfaces still name the machine's own addresses for a block by hand.
    if (!kept.routesRead)
        kept.own = QNetworkInterface::allAddresses();
    return kept;
}

} // namespace BlockRules
