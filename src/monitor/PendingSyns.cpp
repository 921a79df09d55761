#include "PendingSyns.h"

PendingSyns::PendingSyns(Throttle::Clock clock)
    : m_clock(std::move(clock))
{
}

bool PendingSyns::Table::add(Entry entry)
{
    if (index.contains(entry.key))
        return true;
    const bool room = index.size() < MaxPending;
    if (room) {
        byAge.push_back(std::move(entry));
    } else {
        index.remove(byAge.front().key);
        byAge.front() = std::move(entry);
        byAge.splice(byAge.end(), byAge, byAge.begin());
    }
    index.insert(byAge.back().key, std::prev(byAge.end()));
    return room;
}

bool PendingSyns::Table::remove(const Key& key)
{
    const auto found = index.find(key);
    if (found == index.end())
        return false;
    byAge.erase(*found);
    index.erase(found);
    return true;
}

std::optional<PendingSyns::Entry> PendingSyns::Table::take(const Key& key)
{
    const auto found = index.find(key);
    if (found == index.end())
        return std::nullopt;
    Entry entry = std::move(**found);
    byAge.erase(*found);
    index.erase(found);
    return entry;
}

void PendingSyns::Table::dropOlderThan(std::chrono::milliseconds limit)
{
    while (!byAge.empty() && byAge.front().seen < limit) {
        index.remove(byAge.front().key);
        byAge.pop_front();
    }
}

void PendingSyns::syn(const TcpProbe& probe)
{
    const Key key { probe.source, probe.sourcePort, probe.destinationPort };
    const auto known = m_completed.index.constFind(key);
    if (known != m_completed.index.cend() && (*known)->probe.sequence == probe.sequence)
        return;
    if (m_accepted.remove(key))
        return completed({ key, m_clock(), probe });
    if (!m_waiting.add({ key, m_clock(), probe }))
        ++m_dropped;
}

void PendingSyns::accepted(const IpAddress& source, int sourcePort, int port)
{
    const Key key { source, quint16(sourcePort), quint16(port) };
    if (std::optional<Entry> waiting = m_waiting.take(key)) {
        waiting->seen = m_clock();
        completed(std::move(*waiting));
    } else {
        static_cast<void>(m_accepted.add({ key, m_clock(), {} }));
    }
}

// A new connection from the same port replaces the last one's sequence number.
void PendingSyns::completed(Entry entry)
{
    m_completed.remove(entry.key);
    static_cast<void>(m_completed.add(std::move(entry)));
}

QList<TcpProbe> PendingSyns::takeDue()
{
    const std::chrono::milliseconds now = m_clock();
    QList<TcpProbe> due;
    while (!m_waiting.byAge.empty() && now - m_waiting.byAge.front().seen >= Deadline) {
        due.append(std::move(m_waiting.byAge.front().probe));
        m_waiting.index.remove(m_waiting.byAge.front().key);
        m_waiting.byAge.pop_front();
    }
    // An accept whose SYN never came (the watch dropped it, or it was no probe of ours).
    m_accepted.dropOlderThan(now - AcceptKept);
    m_completed.dropOlderThan(now - CompletedKept);
    return due;
}

void PendingSyns::clear()
{
    m_waiting = {};
    m_accepted = {};
    m_completed = {};
}
