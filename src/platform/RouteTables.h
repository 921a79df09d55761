#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QStringList>

// Reading the kernel's routing tables as the proc files show them. Pure functions: text in,
// result out, so that real captured lines can be checked without the machine they came from.
namespace RouteTables {

// Interfaces of the usable IPv4 default routes in the text of /proc/net/route.
QStringList ipv4DefaultInterfaces(const QByteArray& procNetRoute);
// Interfaces of the usable IPv6 default routes in the text of /proc/net/ipv6_route.
QStringList ipv6DefaultInterfaces(const QByteArray& procNetIpv6Route);

// The next hops of the usable default routes in both tables (IPv4 first): the gateways.
QList<QHostAddress> defaultGateways(const QByteArray& procNetRoute, const QByteArray& procNetIpv6Route);

// Interface name to its flags (IFF_*), as getifaddrs reports them.
using InterfaceFlags = QHash<QString, unsigned>;

// True when one of the interfaces is up, running (it has a carrier) and not the loopback. A route
// can outlive the carrier of its interface, so the route alone does not make a connection.
bool anyUsable(const QStringList& interfaces, const InterfaceFlags& flags);

} // namespace RouteTables
