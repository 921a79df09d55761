#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

// Reads what the watch helper writes: batches of fixed-size header records, one message each
// (the helper's file documents the layout at its top). Every field is checked before it is used,
// so a helper gone wrong can send nothing that is read beyond its message or taken for what it
// is not. Kept free of Qt so the fuzzer can drive it alone.
namespace WatchRecords {

constexpr std::size_t HeaderSize = 12;
constexpr std::size_t RecordSize = 44;
constexpr std::size_t MaxRecords = 1024;
constexpr std::size_t MaxBatch = HeaderSize + MaxRecords * RecordSize;

struct Batch
{
    std::uint32_t kernelDropped = 0; // segments the kernel dropped, the helper's ring full
    std::uint32_t helperDropped = 0; // records the helper dropped, this program not reading
    std::size_t count = 0; // records that follow the header
};

struct Record
{
    int family = 0; // 4 or 6
    bool fragment = false; // a fragmented probe: flags and sequence may be missing
    std::uint8_t flags = 0;
    std::uint16_t sourcePort = 0;
    std::uint16_t destinationPort = 0;
    std::uint32_t sequence = 0; // a SYN's repeat carries the same one
    // IPv4 addresses fill the first four bytes, the rest stays zero.
    std::array<std::uint8_t, 16> source {};
    std::array<std::uint8_t, 16> destination {};
};

// Nothing unless the message is a whole batch: its header and a whole number of records, no more
// than MaxRecords.
std::optional<Batch> readBatch(const std::uint8_t* data, std::size_t size);
// Record index of a batch readBatch accepted; nothing when its fields are not a record's.
std::optional<Record> readRecord(const std::uint8_t* data, std::size_t index);

} // namespace WatchRecords
