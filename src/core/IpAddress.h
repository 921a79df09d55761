#pragma once

#include <QString>
#include <QStringView>

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>

// An IPv4 or IPv6 address held in place: copied, compared and hashed without touching the heap.
// A flood from forged sources brings a new address with every packet, so this is what the packet
// watch, the per-source tables and every intrusion carry. An IPv4 peer seen through an IPv6
// socket (::ffff:a.b.c.d) is unmapped where it enters, so one IPv4 source is one key everywhere.
class IpAddress
{
public:
    IpAddress() = default;

    static IpAddress fromIpv4(const std::uint8_t* bytes)
    {
        IpAddress address;
        address.m_family = 4;
        std::memcpy(address.m_bytes.data(), bytes, 4);
        return address;
    }
    static IpAddress fromIpv4(std::uint32_t hostOrder)
    {
        const std::uint8_t bytes[] = { std::uint8_t(hostOrder >> 24), std::uint8_t(hostOrder >> 16),
            std::uint8_t(hostOrder >> 8), std::uint8_t(hostOrder) };
        return fromIpv4(bytes);
    }
    // A mapped IPv4 address comes back as the IPv4 address it stands for.
    static IpAddress fromIpv6(const std::uint8_t* bytes);
    // The sixteen bytes as they are, mapped or not: only a network to compare against needs this.
    static IpAddress fromIpv6Exact(const std::uint8_t* bytes)
    {
        IpAddress address;
        address.m_family = 6;
        std::memcpy(address.m_bytes.data(), bytes, 16);
        return address;
    }
    // Strict text forms only: the resolver's lenient parser would read "10.1" as 10.0.0.1 and
    // "010.0.0.1" as octal, neither of which a user means. A link-local scope ("%eth0") is
    // ignored. Mapped text unmaps.
    static std::optional<IpAddress> parse(QStringView text);

    bool isNull() const { return m_family == 0; }
    bool isIpv4() const { return m_family == 4; }
    bool isIpv6() const { return m_family == 6; }
    // 4 or 6; 0 when null.
    int family() const { return m_family; }
    // Four bytes for IPv4, sixteen for IPv6, in network order.
    const std::uint8_t* bytes() const { return m_bytes.data(); }

    // Whether the first prefixLength bits equal those of network, of the same family.
    bool isInSubnet(const IpAddress& network, int prefixLength) const;

    // Dotted quad or the compressed IPv6 form; empty when null.
    QString toString() const;
    // Writes the text into buffer (at least 46 bytes, nul-terminated); returns its length.
    int write(char* buffer) const;

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
        // Three multiplications fold the sixteen bytes and the family well enough for a table
        // keyed by addresses an attacker picks at random: the seed keeps the layout unguessable.
        // The last round brings the high bytes down to the low bits the table indexes by: IPv6
        // sources of one network differ only in their last bytes, the high ones of words[1].
        std::uint64_t hash = (words[0] ^ seed ^ address.m_family) * 0x9e3779b97f4a7c15ULL;
        hash = (hash ^ (hash >> 29) ^ words[1]) * 0xbf58476d1ce4e5b9ULL;
        hash = (hash ^ (hash >> 31)) * 0x94d049bb133111ebULL;
        return size_t(hash ^ (hash >> 32));
    }

private:
    // IPv4 fills the first four bytes; the rest stays zero.
    std::array<std::uint8_t, 16> m_bytes {};
    std::uint8_t m_family = 0; // 0 (none), 4 or 6
};
