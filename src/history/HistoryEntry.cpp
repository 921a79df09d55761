#include "HistoryEntry.h"

#include "HistoryKinds.h"

#include <cstring>

namespace {
// The detection a flood record folded, by the name the events give it; a scan stands apart.
void foldedKind(const char* name, HistoryEntry& entry)
{
    for (int i = 0; i < HistoryKinds::Detections; ++i) {
        if (std::strcmp(name, HistoryKinds::Names[std::size_t(i)]) == 0) {
            entry.detection = Event::Detection(i);
            return;
        }
    }
    entry.scanFolded = true;
}
} // namespace

std::optional<HistoryEntry> HistoryEntry::of(const Event& event)
{
    switch (event.kind) {
    case Event::Kind::Intrusion:
    case Event::Kind::Allowed:
    case Event::Kind::PortScan:
    case Event::Kind::IncidentEnded:
    case Event::Kind::Blocked:
    case Event::Kind::Flood:
    case Event::Kind::ProgramStarted:
        break;
    default:
        return std::nullopt;
    }
    HistoryEntry entry;
    entry.kind = event.kind;
    entry.time = event.time.toMSecsSinceEpoch();
    entry.utcOffset = event.time.offsetFromUtc();
    entry.address = event.address;
    entry.port = event.port;
    entry.detection = event.detection;
    entry.incident = event.incident;
    if (event.kind == Event::Kind::Flood) {
        foldedKind(event.folded, entry);
        entry.probes = event.probes;
        entry.sources = event.sources;
    }
    return entry;
}
