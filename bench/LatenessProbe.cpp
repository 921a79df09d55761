#include "LatenessProbe.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

LatenessProbe::LatenessProbe(int intervalMs, QObject* parent)
    : QObject(parent)
    , m_intervalMs(intervalMs)
{
    // Opened here, on the loop's thread, so "thread-self" names that thread for good.
    m_schedstat = ::open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC);
    // A precise timer is due exactly one interval after its previous firing, so any extra gap
    // between two firings is time the loop spent elsewhere.
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(intervalMs);
    connect(&m_timer, &QTimer::timeout, this, &LatenessProbe::tick);
    m_clock.start();
    m_timer.start();
}

LatenessProbe::~LatenessProbe()
{
    if (m_schedstat >= 0)
        ::close(m_schedstat);
}

LatenessProbe::ThreadTimes LatenessProbe::threadTimes() const
{
    ThreadTimes times;
    // The thread clock brings the running time up to date when read; the scheduler statistics
    // only catch up at the next scheduler tick, but the wait before this run is already in them.
    timespec now {};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    times.cpuNs = qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
    char text[128] = {};
    long long running = 0, waited = 0;
    if (m_schedstat >= 0 && ::pread(m_schedstat, text, sizeof text - 1, 0) > 0
        && std::sscanf(text, "%lld %lld", &running, &waited) == 2)
        times.runQueueNs = waited;
    return times;
}

void LatenessProbe::pause()
{
    m_timer.stop();
    m_lastTickNs = -1;
}

void LatenessProbe::tick()
{
    const qint64 now = m_clock.nsecsElapsed();
    const ThreadTimes times = threadTimes();
    if (m_lastTickNs >= 0) {
        const qint64 lateness = std::max<qint64>(0, now - m_lastTickNs - qint64(m_intervalMs) * 1'000'000);
        m_latenessNs.push_back(lateness);
        if (lateness > m_worstLatenessNs) {
            m_worstLatenessNs = lateness;
            m_worstGap = { times.cpuNs - m_lastTimes.cpuNs, times.runQueueNs - m_lastTimes.runQueueNs };
        }
    }
    m_lastTickNs = now;
    m_lastTimes = times;
}

LatenessProbe::Figures LatenessProbe::figures() const
{
    Figures figures;
    if (m_latenessNs.empty())
        return figures;
    std::vector<qint64> sorted = m_latenessNs;
    std::sort(sorted.begin(), sorted.end());
    figures.samples = long(sorted.size());
    figures.maxMs = double(sorted.back()) / 1e6;
    figures.p99Ms = double(sorted[std::min(sorted.size() - 1, size_t(0.99 * double(sorted.size())))]) / 1e6;
    figures.worstGapCpuMs = double(m_worstGap.cpuNs) / 1e6;
    figures.worstGapRunQueueMs = double(m_worstGap.runQueueNs) / 1e6;
    return figures;
}

void LatenessProbe::reset()
{
    m_latenessNs.clear();
    m_worstLatenessNs = -1;
    m_worstGap = {};
}
