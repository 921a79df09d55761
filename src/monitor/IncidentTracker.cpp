#include "IncidentTracker.h"

IncidentTracker::IncidentTracker(Throttle::Clock clock)
    : m_clock(std::move(clock))
{
}

const Incident& IncidentTracker::observe(const IpAddress& source, const QString& text, int port, const QDateTime& time)
{
    const std::chrono::milliseconds now = m_clock();
    auto found = m_bySource.find(source);
    if (found != m_bySource.end() && now - (*found)->lastSeen > m_gap) {
        end(*found);
        found = m_bySource.end();
    }
    if (found == m_bySource.end()) {
        if (m_bySource.size() >= MaxOpen) {
            end(m_byAge.begin());
            ++m_endedEarly;
        }
        Incident incident;
        incident.id = ++m_lastId;
        incident.source = source;
        incident.address = text;
        incident.first = time;
        m_byAge.push_back(std::move(incident));
        found = m_bySource.insert(source, std::prev(m_byAge.end()));
    } else {
        m_byAge.splice(m_byAge.end(), m_byAge, *found);
    }
    Incident& incident = **found;
    incident.last = time;
    incident.lastSeen = now;
    ++incident.count;
    // A scan touches each port about once; the list stays short, so a linear look is cheap.
    if (!incident.ports.contains(port))
        incident.ports.append(port);
    return incident;
}

qsizetype IncidentTracker::expire()
{
    const std::chrono::milliseconds now = m_clock();
    while (!m_byAge.empty() && now - m_byAge.front().lastSeen > m_gap)
        end(m_byAge.begin());
    return m_bySource.size();
}

void IncidentTracker::endAll()
{
    // Oldest first, so the ended records come in the order the incidents started.
    ByAge open = std::move(m_byAge);
    m_byAge.clear();
    m_bySource.clear();
    open.sort([](const Incident& a, const Incident& b) { return a.id < b.id; });
    if (m_ended) {
        for (const Incident& incident : open)
            m_ended(incident);
    }
}

void IncidentTracker::end(ByAge::iterator incident)
{
    if (m_ended)
        m_ended(*incident);
    m_bySource.remove(incident->source);
    m_byAge.erase(incident);
}
