#include "ScanTracker.h"

#include <algorithm>

namespace {
constexpr int PortBits = 65536;
constexpr int WordBits = 64;
} // namespace

ScanTracker::ScanTracker(Throttle::Clock clock)
    : m_clock(std::move(clock))
{
}

void ScanTracker::configure(int threshold, std::chrono::milliseconds window, std::chrono::milliseconds gap)
{
    m_threshold = std::max(2, threshold);
    m_window = window;
    m_gap = gap;
}

void ScanTracker::setReports(Report crossed, Report ended)
{
    m_crossed = std::move(crossed);
    m_ended = std::move(ended);
}

void ScanTracker::touch(const IpAddress& address, int port, bool spoofable)
{
    if (port < 0 || port >= PortBits)
        return;
    const std::chrono::milliseconds now = m_clock();
    auto found = m_bySource.find(address);
    if (found != m_bySource.end() && (*found)->scan && now - (*found)->lastSeen > m_gap) {
        remove(*found);
        found = m_bySource.end();
    }
    if (found == m_bySource.end()) {
        if (m_bySource.size() >= MaxSources) {
            Source& oldest = m_byAge.front();
            if (!isStale(oldest, now))
                ++m_evicted;
            end(oldest);
            m_bySource.remove(oldest.address);
            oldest.address = address;
            oldest.recent.clear();
            oldest.spoofable = false;
            m_byAge.splice(m_byAge.end(), m_byAge, m_byAge.begin());
        } else {
            m_byAge.push_back(Source { address, now, {}, false, nullptr });
        }
        found = m_bySource.insert(address, std::prev(m_byAge.end()));
    } else {
        m_byAge.splice(m_byAge.end(), m_byAge, *found);
    }

    Source& source = **found;
    source.lastSeen = now;
    source.spoofable = source.spoofable || spoofable;
    if (Scan* scan = source.scan.get()) {
        scan->report.spoofable = source.spoofable;
        quint64& word = scan->seen[std::size_t(port / WordBits)];
        const quint64 bit = quint64(1) << (port % WordBits);
        if (!(word & bit)) {
            word |= bit;
            ++scan->report.portCount;
            if (scan->report.ports.size() < PortScan::MaxListedPorts)
                scan->report.ports.append(port);
        }
        return;
    }

    auto& recent = source.recent;
    recent.erase(std::remove_if(recent.begin(), recent.end(),
                     [&](const auto& touched) { return now - touched.second > m_window; }),
        recent.end());
    const auto same
        = std::find_if(recent.begin(), recent.end(), [port](const auto& t) { return t.first == port; });
    if (same != recent.end()) {
        same->second = now;
        return;
    }
    recent.emplace_back(port, now);
    if (int(recent.size()) >= m_threshold)
        cross(source);
}

void ScanTracker::cross(Source& source)
{
    auto scan = std::make_unique<Scan>();
    scan->seen.assign(PortBits / WordBits, 0);
    PortScan& report = scan->report;
    report.address = source.address;
    report.spoofable = source.spoofable;
    report.windowSeconds = int(std::chrono::duration_cast<std::chrono::seconds>(m_window).count());
    for (const auto& [port, when] : source.recent) {
        scan->seen[std::size_t(port / WordBits)] |= quint64(1) << (port % WordBits);
        if (report.ports.size() < PortScan::MaxListedPorts)
            report.ports.append(port);
    }
    report.portCount = int(source.recent.size());
    report.lastPort = source.recent.back().first;
    source.recent.clear();
    source.recent.shrink_to_fit();
    source.scan = std::move(scan);
    if (m_crossed)
        m_crossed(source.scan->report);
}

bool ScanTracker::isStale(const Source& source, std::chrono::milliseconds now) const
{
    return now - source.lastSeen > (source.scan ? m_gap : m_window);
}

qsizetype ScanTracker::expire()
{
    const std::chrono::milliseconds now = m_clock();
    // The front is the quietest; one still live there keeps the rest for a later pass.
    while (!m_byAge.empty() && isStale(m_byAge.front(), now))
        remove(m_byAge.begin());
    return m_bySource.size();
}

void ScanTracker::endAll()
{
    while (!m_byAge.empty())
        remove(m_byAge.begin());
}

void ScanTracker::end(Source& source)
{
    if (source.scan && m_ended)
        m_ended(source.scan->report);
    source.scan.reset();
}

void ScanTracker::remove(ByAge::iterator source)
{
    end(*source);
    m_bySource.remove(source->address);
    m_byAge.erase(source);
}
