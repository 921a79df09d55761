#pragma once

#include "Incident.h"
#include "Throttle.h"

#include <QHash>

#include <functional>
#include <list>
#include <utility>

// Groups intrusions into incidents by source address. The gap is measured on an injected
// monotonic clock, so a test can run a scan without waiting and a wall-clock change neither
// ends nor prolongs an incident.
//
// One host can send from countless addresses (an IPv6 host holds 2^64), so at most MaxOpen
// incidents are open at once: a new source beyond that ends the incident quiet longest early.
class IncidentTracker
{
public:
    using Ended = std::function<void(const Incident&)>;

    static constexpr qsizetype MaxOpen = 4096;

    explicit IncidentTracker(Throttle::Clock clock = &Throttle::steadyNow);

    void setGap(std::chrono::milliseconds gap) { m_gap = gap; }
    std::chrono::milliseconds gap() const { return m_gap; }
    // Told of each incident once it has ended, before anything of a later one from its source.
    void setEndedHandler(Ended ended) { m_ended = std::move(ended); }

    // Adds one connection; returns its incident, which is new when its count is 1.
    // text: the source as the outputs write it, kept with a new incident.
    const Incident& observe(const IpAddress& source, const QString& text, int port, const QDateTime& time);
    // Ends the incidents whose gap has passed; how many remain open.
    qsizetype expire();
    // Ends every open incident, e.g. when monitoring stops or the program ends.
    void endAll();

    qsizetype openCount() const { return m_bySource.size(); }
    quint64 lastId() const { return m_lastId; }
    // Incidents ended early for the cap since the last call.
    quint64 takeEndedEarly() { return std::exchange(m_endedEarly, 0); }

private:
    using ByAge = std::list<Incident>;

    void end(ByAge::iterator incident);

    Throttle::Clock m_clock;
    std::chrono::milliseconds m_gap { 60000 };
    Ended m_ended;
    // Least recently seen first: the clock only moves on, so the front is the next to expire.
    ByAge m_byAge;
    QHash<IpAddress, ByAge::iterator> m_bySource;
    quint64 m_lastId = 0;
    quint64 m_endedEarly = 0;
};
