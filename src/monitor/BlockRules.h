#pragma once

#include "AllowList.h"

#include <QList>
#include <QString>

// Which addresses may be blocked at the firewall. A forged half-open scan must not make the user
// block their own gateway, and no intruder line may lock the machine out of its own network.
namespace BlockRules {

struct Protected
{
    QList<IpAddress> own; // the machine's addresses
    QList<IpAddress> gateways; // the default routes' next hops
    // false when the routing tables could not be read: then no gateway is known to be safe from
    // automatic blocking, and it blocks nothing.
    bool routesRead = true;
};

// Why this address is not blocked, in a few words for a status line; empty when it may be.
// automatic: the automatic blocking asks, which also refuses a spoofable detection and the allow
// list; the user's own request is trusted with those.
QString refusal(const IpAddress& address, bool spoofable, bool automatic, const AllowList& allow,
    const Protected& kept);

// The machine's own addresses and its default gateways, read now.
Protected current();

} // namespace BlockRules
