#pragma once

#include "Incident.h"
#include "Throttle.h"

#include <QHash>

#include <functional>

// Groups intrusions into incidents by source address. The gap is measured on an injected
// monotonic clock, so a test can run a scan without waiting and a wall-clock change neither
// ends nor prolongs an incident.
class IncidentTracker
{
public:
    using Ended = std::function<void(const Incident&)>;

    explicit IncidentTracker(Throttle::Clock clock = &Throttle::steadyNow);

    void setGap(std::chrono::milliseconds gap) { m_gap = gap; }
    std::chrono::milliseconds gap() const { return m_gap; }
    // Told of each incident once it has ended, before anything of a later one from its source.
    void setEndedHandler(Ended ended) { m_ended = std::move(ended); }

    // Adds one connection; returns its incident, which is new when its count is 1.
    const Incident& observe(const QString& address, int port, const QDateTime& time);
    // Ends the incidents whose gap has passed; how many remain open.
    qsizetype expire();
    // Ends every open incident, e.g. when monitoring stops.
    void endAll();

    qsizetype openCount() const { return m_open.size(); }
    quint64 lastId() const { return m_lastId; }

private:
    Throttle::Clock m_clock;
    std::chrono::milliseconds m_gap { 60000 };
    Ended m_ended;
    QHash<QString, Incident> m_open;
    quint64 m_lastId = 0;
};
