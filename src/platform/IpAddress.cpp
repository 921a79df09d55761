#include "IpAddress.h"

IpAddress::IpAddress(const QHostAddress& address)
{
    switch (address.protocol()) {
    case QAbstractSocket::IPv4Protocol: {
        const quint32 v4 = address.toIPv4Address();
        const std::uint8_t bytes[]
            = { std::uint8_t(v4 >> 24), std::uint8_t(v4 >> 16), std::uint8_t(v4 >> 8), std::uint8_t(v4) };
        *this = fromIpv4(bytes);
        break;
    }
    case QAbstractSocket::IPv6Protocol:
        *this = fromIpv6(address.toIPv6Address().c);
        break;
    default:
        break;
    }
}

QHostAddress IpAddress::toHostAddress() const
{
    if (m_family == 4)
        return QHostAddress(
            quint32(m_bytes[0]) << 24 | quint32(m_bytes[1]) << 16 | quint32(m_bytes[2]) << 8 | m_bytes[3]);
    if (m_family == 6)
        return QHostAddress(m_bytes.data());
    return {};
}
