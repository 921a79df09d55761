#pragma once

#include "IpAddress.h"

#include <QHostAddress>

// From Qt's address type, which the socket classes and the resolver speak, to the one the
// program carries. A mapped IPv4 address unmaps on the way in.
inline IpAddress fromHostAddress(const QHostAddress& address)
{
    switch (address.protocol()) {
    case QAbstractSocket::IPv4Protocol:
        return IpAddress::fromIpv4(std::uint32_t(address.toIPv4Address()));
    case QAbstractSocket::IPv6Protocol:
        return IpAddress::fromIpv6(address.toIPv6Address().c);
    default:
        return {};
    }
}
