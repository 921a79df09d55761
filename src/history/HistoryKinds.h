#pragma once

#include "Event.h"

#include <array>

// What the history keeps of how a source was seen: one bit per way of detection, in the order of
// Event::Detection, then a scan and a flood. An incident's kinds are the bits of all its probes.
namespace HistoryKinds {

inline constexpr int Detections = 7;
inline constexpr unsigned PortScan = 1u << Detections;
inline constexpr unsigned Flood = 1u << (Detections + 1);
// The names the events use, one per bit from the lowest.
inline constexpr std::array<const char*, Detections + 2> Names { "connect", "half_open", "fin", "null",
    "xmas", "udp", "fragment", "port_scan", "flood" };

inline constexpr unsigned of(Event::Detection detection) { return 1u << unsigned(detection); }
// Every bit but a completed connection's: the address may have been forged.
inline constexpr unsigned Spoofable = ((1u << Detections) - 1) & ~of(Event::Detection::Connect);

} // namespace HistoryKinds

// What became of an incident.
enum class HistoryState { Alarm = 0, Blocked = 1, Allowed = 2 };
