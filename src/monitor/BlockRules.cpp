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

QByteArray readProc(const char* path)
{
    QFile file(QString::fromLatin1(path));
    return file.open(QIODevice::ReadOnly) ? file.read(1 << 20) : QByteArray();
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
    return {};
}

Protected current()
{
    return { QNetworkInterface::allAddresses(),
        RouteTables::defaultGateways(readProc("/proc/net/route"), readProc("/proc/net/ipv6_route")) };
}

} // namespace BlockRules
