#include "IpAddress.h"

#include <arpa/inet.h>

namespace {
constexpr std::uint8_t MappedPrefix[12] = { 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff };

// Dotted quad without the formatting machinery: every accepted connection is written out.
int writeIpv4(const std::uint8_t* address, char* text)
{
    char* next = text;
    for (int i = 0; i < 4; ++i) {
        const unsigned octet = address[i];
        if (octet >= 100)
            *next++ = char('0' + octet / 100);
        if (octet >= 10)
            *next++ = char('0' + octet / 10 % 10);
        *next++ = char('0' + octet % 10);
        if (i < 3)
            *next++ = '.';
    }
    *next = '\0';
    return int(next - text);
}
} // namespace

IpAddress IpAddress::fromIpv6(const std::uint8_t* bytes)
{
    if (std::memcmp(bytes, MappedPrefix, sizeof MappedPrefix) == 0)
        return fromIpv4(bytes + 12);
    return fromIpv6Exact(bytes);
}

std::optional<IpAddress> IpAddress::parse(QStringView text)
{
    const qsizetype scope = text.indexOf(QLatin1Char('%'));
    const QByteArray latin = (scope < 0 ? text : text.left(scope)).toLatin1();
    std::uint8_t bytes[16];
    if (latin.contains(':')) {
        if (::inet_pton(AF_INET6, latin.constData(), bytes) != 1)
            return std::nullopt;
        return fromIpv6(bytes);
    }
    if (scope >= 0 || ::inet_pton(AF_INET, latin.constData(), bytes) != 1)
        return std::nullopt;
    return fromIpv4(bytes);
}

bool IpAddress::isInSubnet(const IpAddress& network, int prefixLength) const
{
    if (m_family != network.m_family || m_family == 0 || prefixLength < 0)
        return false;
    const int whole = prefixLength / 8;
    if (whole > (m_family == 4 ? 4 : 16) || std::memcmp(m_bytes.data(), network.m_bytes.data(), size_t(whole)) != 0)
        return false;
    const int rest = prefixLength % 8;
    if (rest == 0)
        return true;
    const std::uint8_t mask = std::uint8_t(0xff << (8 - rest));
    return (m_bytes[size_t(whole)] & mask) == (network.m_bytes[size_t(whole)] & mask);
}

int IpAddress::write(char* buffer) const
{
    if (m_family == 4)
        return writeIpv4(m_bytes.data(), buffer);
    buffer[0] = '\0';
    if (m_family == 6 && ::inet_ntop(AF_INET6, m_bytes.data(), buffer, INET6_ADDRSTRLEN) == nullptr)
        buffer[0] = '\0';
    return int(std::strlen(buffer));
}

QString IpAddress::toString() const
{
    char text[INET6_ADDRSTRLEN];
    const int length = write(text);
    return QString::fromLatin1(text, length);
}
