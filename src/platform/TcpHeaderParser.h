#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

// Reads one packet as the watch helper's filter hands it over: an IPv4 or IPv6 header followed
// by the fixed TCP header, nothing after. Kept free of Qt so the fuzzer can drive it alone.
namespace TcpHeaderParser {

struct Segment
{
    int family = 0; // 4 or 6
    // IPv4 addresses fill the first four bytes, the rest stays zero.
    std::array<std::uint8_t, 16> source {};
    std::array<std::uint8_t, 16> destination {};
    std::uint16_t sourcePort = 0;
    std::uint16_t destinationPort = 0;
    std::uint32_t sequence = 0;
    std::uint8_t flags = 0;
};

// Nothing unless the bytes hold a whole IP header of TCP (no IPv4 fragment, no IPv6 extension
// header) and a whole fixed TCP header, and the IP length leaves room for that TCP header.
std::optional<Segment> parse(const std::uint8_t* data, std::size_t size);

} // namespace TcpHeaderParser
