#include "TcpHeaderParser.h"

#include <algorithm>

namespace {
constexpr std::size_t FixedTcpHeader = 20;
constexpr std::size_t Ipv6Header = 40;
constexpr std::uint8_t TcpProtocol = 6;

std::uint16_t read16(const std::uint8_t* at)
{
    return std::uint16_t(at[0] << 8 | at[1]);
}

std::uint32_t read32(const std::uint8_t* at)
{
    return std::uint32_t(at[0]) << 24 | std::uint32_t(at[1]) << 16 | std::uint32_t(at[2]) << 8 | at[3];
}
} // namespace

std::optional<TcpHeaderParser::Segment> TcpHeaderParser::parse(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return std::nullopt;
    Segment segment;
    std::size_t tcp = 0;
    if (data[0] >> 4 == 4) {
        tcp = std::size_t(data[0] & 0x0f) * 4;
        // The fragment fields: "more fragments" or an offset means no whole TCP header here.
        if (tcp < 20 || size < tcp + FixedTcpHeader || data[9] != TcpProtocol || (read16(data + 6) & 0x3fff) != 0
            || read16(data + 2) < tcp + FixedTcpHeader)
            return std::nullopt;
        segment.family = 4;
        std::copy_n(data + 12, 4, segment.source.begin());
        std::copy_n(data + 16, 4, segment.destination.begin());
    } else if (data[0] >> 4 == 6) {
        tcp = Ipv6Header;
        if (size < tcp + FixedTcpHeader || data[6] != TcpProtocol || read16(data + 4) < FixedTcpHeader)
            return std::nullopt;
        segment.family = 6;
        std::copy_n(data + 8, 16, segment.source.begin());
        std::copy_n(data + 24, 16, segment.destination.begin());
    } else {
        return std::nullopt;
    }
    segment.sourcePort = read16(data + tcp);
    segment.destinationPort = read16(data + tcp + 2);
    segment.sequence = read32(data + tcp + 4);
    segment.flags = data[tcp + 13];
    return segment;
}
