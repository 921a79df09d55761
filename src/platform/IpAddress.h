#pragma once

#include <QHostAddress>
#include <QString>

#include <array>
#include <cstdint>
#include <cstring>

// An IPv4 or IPv6 address held in place: copied, compared and hashed without touching the heap.
// A flood from forged sources brings a new address with every packet, and QHostAddress allocates
// for each one; this is what the packet watch and the per-source tables key on instead.
class IpAddress
{
public:
    IpAddress() = default;
    // Converts implicitly: the rare paths (accepted connections, datagrams, tests) hold QHostAddress.
    IpAddress(const QHostAddress& address);

    static IpAddress fromIpv4(const std::uint8_t* bytes)
    {
        IpAddress address;
        address.m_family = 4;
        std::memcpy(address.m_bytes.data(), bytes, 4);
        return address;
    }
    static IpAddress fromIpv6(const std::uint8_t* bytes)
    {
        IpAddress address;
        address.m_family = 6;
        std::memcpy(address.m_bytes.data(), bytes, 16);
        return address;
    }

    QHostAddress toHostAddress() const;
    // As QHostAddress writes it.
    QString toString() const { return toHostAddress().toString(); }

    // Two word compares, not a call to memcmp: the tables compare on every lookup.
    friend bool operator==(const IpAddress& a, const IpAddress& b)
    {
        std::uint64_t x[2];
        std::uint64_t y[2];
        std::memcpy(x, a.m_bytes.data(), sizeof x);
        std::memcpy(y, b.m_bytes.data(), sizeof y);
        return ((x[0] ^ y[0]) | (x[1] ^ y[1])) == 0 && a.m_family == b.m_family;
    }
    friend size_t qHash(const IpAddress& address, size_t seed = 0)
    {
        std::uint64_t words[2];
        std::memcpy(words, address.m_bytes.data(), sizeof words);
        // Two multiplications fold the sixteen bytes and the family well enough for a table
        // keyed by addresses an attacker picks at random: the seed keeps the layout unguessable.
        std::uint64_t hash = (words[0] ^ seed ^ address.m_family) * 0x9e3779b97f4a7c15ULL;
        hash = (hash ^ (hash >> 29) ^ words[1]) * 0xbf58476d1ce4e5b9ULL;
        return size_t(hash ^ (hash >> 32));
    }

private:
    // IPv4 fills the first four bytes; the rest stays zero.
    std::array<std::uint8_t, 16> m_bytes {};
    std::uint8_t m_family = 0; // 0 (none), 4 or 6
};
