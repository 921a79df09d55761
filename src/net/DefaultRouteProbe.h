#pragma once

#include "ConnectionProbe.h"

#include <QString>

// Connected means: an IPv4 or IPv6 default route exists whose interface is up, has a carrier and
// is not the loopback. That holds for Ethernet, Wi-Fi, a phone's tether and a dial-up link alike,
// and it goes away when the link drops or the route is taken down.
class DefaultRouteProbe final : public ConnectionProbe
{
public:
    // The route tables are read from these files; tests point them elsewhere.
    explicit DefaultRouteProbe(QString ipv4Table = QStringLiteral("/proc/net/route"),
        QString ipv6Table = QStringLiteral("/proc/net/ipv6_route"));

    bool isRemoteConnectionActive() override;

private:
    QString m_ipv4Table;
    QString m_ipv6Table;
};
