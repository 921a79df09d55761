#include "WatchRecords.h"

#include <algorithm>

namespace {
constexpr std::uint8_t Version = 2;
constexpr std::uint8_t FragmentFact = 0x01;

std::uint16_t read16(const std::uint8_t* at)
{
    return std::uint16_t(at[0] << 8 | at[1]);
}

std::uint32_t read32(const std::uint8_t* at)
{
    return std::uint32_t(at[0]) << 24 | std::uint32_t(at[1]) << 16 | std::uint32_t(at[2]) << 8 | at[3];
}
} // namespace

std::optional<WatchRecords::Batch> WatchRecords::readBatch(const std::uint8_t* data, std::size_t size)
{
    if (size < HeaderSize || size > MaxBatch || (size - HeaderSize) % RecordSize != 0)
        return std::nullopt;
    if (data[0] != 'S' || data[1] != 'R' || data[2] != Version || data[3] != 0)
        return std::nullopt;
    return Batch { read32(data + 4), read32(data + 8), (size - HeaderSize) / RecordSize };
}

std::optional<WatchRecords::Record> WatchRecords::readRecord(const std::uint8_t* data, std::size_t index)
{
    const std::uint8_t* at = data + HeaderSize + index * RecordSize;
    const int family = at[0];
    if ((family != 4 && family != 6) || (at[1] & ~FragmentFact) != 0 || at[3] != 0)
        return std::nullopt;
    // An IPv4 address leaves the rest of its sixteen bytes zero.
    const auto zero = [](std::uint8_t b) { return b == 0; };
    if (family == 4 && !(std::all_of(at + 12, at + 24, zero) && std::all_of(at + 28, at + 40, zero)))
        return std::nullopt;
    Record record;
    record.family = family;
    record.fragment = (at[1] & FragmentFact) != 0;
    record.flags = at[2];
    record.sourcePort = read16(at + 4);
    record.destinationPort = read16(at + 6);
    std::copy_n(at + 8, 16, record.source.begin());
    std::copy_n(at + 24, 16, record.destination.begin());
    record.sequence = read32(at + 40);
    return record;
}
