#include "IncidentTracker.h"

IncidentTracker::IncidentTracker(Throttle::Clock clock)
    : m_clock(std::move(clock))
{
}

const Incident& IncidentTracker::observe(const QString& address, int port, const QDateTime& time)
{
    const std::chrono::milliseconds now = m_clock();
    auto it = m_open.find(address);
    if (it != m_open.end() && now - it->lastSeen > m_gap) {
        if (m_ended)
            m_ended(*it);
        m_open.erase(it);
        it = m_open.end();
    }
    if (it == m_open.end()) {
        Incident incident;
        incident.id = ++m_lastId;
        incident.address = address;
        incident.first = time;
        it = m_open.insert(address, incident);
    }
    Incident& incident = *it;
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
    for (auto it = m_open.begin(); it != m_open.end();) {
        if (now - it->lastSeen > m_gap) {
            if (m_ended)
                m_ended(*it);
            it = m_open.erase(it);
        } else {
            ++it;
        }
    }
    return m_open.size();
}

void IncidentTracker::endAll()
{
    // Oldest first, so the ended records come in the order the incidents started.
    QList<Incident> open = m_open.values();
    m_open.clear();
    std::sort(open.begin(), open.end(), [](const Incident& a, const Incident& b) { return a.id < b.id; });
    if (m_ended) {
        for (const Incident& incident : open)
            m_ended(incident);
    }
}
