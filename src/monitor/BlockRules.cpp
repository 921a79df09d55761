#include "BlockRules.h"

#include "HostAddress.h"
#include "RouteTables.h"

#include <QNetworkInterface>

#include <algorithm>
#include <vector>

namespace {
using Networks = std::vector<std::pair<IpAddress, int>>;

Networks networks(std::initializer_list<std::pair<const char*, int>> list)
{
    Networks out;
    for (const auto& [network, length] : list)
        out.emplace_back(*IpAddress::parse(QString::fromLatin1(network)), length);
    return out;
}

bool within(const IpAddress& address, const Networks& list)
{
    return std::any_of(list.cbegin(), list.cend(),
        [&address](const auto& network) { return address.isInSubnet(network.first, network.second); });
}

} // namespace

namespace BlockRules {

QString refusal(const IpAddress& address, bool spoofable, bool automatic, const AllowList& allow,
    const Protected& kept)
{
    if (address.isNull())
        return QStringLiteral("not an address");
    if (automatic && spoofable)
        return QStringLiteral("the address may be forged");
    // The same addresses the firewall helper refuses outright, so that none spoils a call.
    static const Networks thisMachine = networks({ { "127.0.0.0", 8 }, { "0.0.0.0", 8 }, { "::1", 128 }, { "::", 128 } });
    static const Networks linkLocal = networks({ { "169.254.0.0", 16 }, { "fe80::", 10 } });
    static const Networks notOneHost = networks({ { "224.0.0.0", 4 }, { "240.0.0.0", 4 }, { "ff00::", 8 } });
    if (within(address, thisMachine))
        return QStringLiteral("this machine");
    if (within(address, linkLocal))
        return QStringLiteral("a link-local address");
    if (within(address, notOneHost))
        return QStringLiteral("not a single host");
    if (kept.own.contains(address))
        return QStringLiteral("this machine");
    if (kept.gateways.contains(address))
        return QStringLiteral("the default gateway");
    if (automatic && allow.contains(address))
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
    if (!kept.routesRead) {
        kept.own.clear();
        for (const QHostAddress& address : QNetworkInterface::allAddresses())
            kept.own.append(fromHostAddress(address));
    }
    return kept;
}

} // namespace BlockRules
