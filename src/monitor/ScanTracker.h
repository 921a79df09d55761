#pragma once

#include "IpAddress.h"
#include "PortScan.h"
#include "Throttle.h"

#include <QHash>

#include <chrono>
#include <functional>
#include <list>
#include <memory>
#include <utility>
#include <vector>

// Counts the distinct ports each source touches, guarded or not, and tells when one crosses the
// threshold within the window, and when that scan ends because the source went quiet for the gap.
// Time comes from an injected monotonic clock, so a test runs a sweep without waiting.
//
// Forged sources cost nothing to send, so at most MaxSources are tracked at once: a new source
// beyond that evicts the one quiet longest, ending its scan early; evictions are counted. The
// evicted source's place (list node, port list) is reused, so a flood allocates nothing per packet.
// Before crossing, a source holds fewer ports than the threshold; after, one bit per port.
class ScanTracker
{
public:
    using Report = std::function<void(PortScan&)>;

    static constexpr qsizetype MaxSources = 4096;

    explicit ScanTracker(Throttle::Clock clock = &Throttle::steadyNow);

    void configure(int threshold, std::chrono::milliseconds window, std::chrono::milliseconds gap);
    // crossed may fill in the scan's incident; ended gets it back when the scan ends.
    void setReports(Report crossed, Report ended);

    // spoofable: the touch completed no connection, so its address proves nothing.
    void touch(const IpAddress& source, int port, bool spoofable);
    // Forgets the sources quiet past the window and ends the scans quiet past the gap; returns
    // how many sources remain.
    qsizetype expire();
    // Ends every scan, e.g. when monitoring stops, and forgets every source.
    void endAll();

    qsizetype sourceCount() const { return m_bySource.size(); }
    // Sources evicted for the cap, with ports still counting, since the last call.
    quint64 takeEvicted() { return std::exchange(m_evicted, 0); }

private:
    struct Scan
    {
        PortScan report;
        std::vector<quint64> seen; // one bit per port number
    };
    struct Source
    {
        IpAddress address;
        std::chrono::milliseconds lastSeen {};
        // Before crossing: each port touched within the window and when, oldest first.
        std::vector<std::pair<int, std::chrono::milliseconds>> recent;
        bool spoofable = false;
        std::unique_ptr<Scan> scan;
    };
    using ByAge = std::list<Source>;

    bool isStale(const Source& source, std::chrono::milliseconds now) const;
    void cross(Source& source);
    void end(Source& source);
    void remove(ByAge::iterator source);

    Throttle::Clock m_clock;
    int m_threshold = 8;
    std::chrono::milliseconds m_window { 3000 };
    std::chrono::milliseconds m_gap { 60000 };
    Report m_crossed;
    Report m_ended;
    // Least recently seen first.
    ByAge m_byAge;
    QHash<IpAddress, ByAge::iterator> m_bySource;
    quint64 m_evicted = 0;
};
