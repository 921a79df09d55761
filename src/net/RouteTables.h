#pragma once

#include "IpAddress.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QStringList>

// Reading the kernel's routing tables as the proc files show them. Pure functions: text in,
// result out, so that real captured lines can be checked without the machine they came from.
namespace RouteTables {

// Interfaces of the usable IPv4 default routes in the text of /proc/net/route.
QStringList ipv4DefaultInterfaces(const QByteArray& procNetRoute);
// Interfaces of the usable IPv6 default routes in the text of /proc/net/ipv6_route.
QStringList ipv6DefaultInterfaces(const QByteArray& procNetIpv6Route);

// The machine's own addresses and every next hop of every default route in every routing table,
// IPv4 and IPv6, as the kernel has them now (over netlink: the proc files show only the main
// table's first hop). false when they could not be read whole.
bool readProtected(QList<IpAddress>& own, QList<IpAddress>& gateways);

// Interface name to its flags (IFF_*), as getifaddrs reports them.
using InterfaceFlags = QHash<QString, unsigned>;

// True when one of the interfaces is up, running (it has a carrier) and not the loopback. A route
// can outlive the carrier of its interface, so the route alone does not make a connection.
bool anyUsable(const QStringList& interfaces, const InterfaceFlags& flags);

} // namespace RouteTables
