#pragma once

#include "Event.h"

#include <QString>

#include <optional>
#include <vector>

// What the history keeps of one event, taken on the user-interface thread and handed to the
// writer's thread: a few numbers and the address text (shared, not copied), so that taking it
// costs the alarm next to nothing. Only the events that make or change incidents have one.
struct HistoryEntry
{
    Event::Kind kind = Event::Kind::Intrusion;
    qint64 time = 0; // milliseconds since the epoch, UTC
    int utcOffset = 0; // seconds east of UTC where it was seen
    QString address;
    int port = 0;
    Event::Detection detection = Event::Detection::Connect; // Intrusion, Allowed; Flood: the kind folded
    bool scanFolded = false; // Flood: the folded kind was a port scan
    quint64 incident = 0; // Intrusion, PortScan, IncidentEnded: the pipeline's id within one run
    qint64 probes = 1; // Flood: how many probes the record folds
    qint64 sources = 1; // Flood: from about how many addresses

    // The entry of an event the history keeps (intrusion, allowed, port_scan, incident_ended,
    // blocked, flood, program_started), or nothing.
    static std::optional<HistoryEntry> of(const Event& event);
};

using HistoryBatch = std::vector<HistoryEntry>;
