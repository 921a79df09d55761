#include "LatenessProbe.h"

#include <algorithm>
#include <ctime>

namespace {
qint64 threadCpuNs()
{
    timespec now {};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}
} // namespace

LatenessProbe::LatenessProbe(int intervalMs, QObject* parent)
    : QObject(parent)
    , m_intervalMs(intervalMs)
{
    // A precise timer is due exactly one interval after its previous firing, so any extra gap
    // between two firings is time the loop spent elsewhere.
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(intervalMs);
    connect(&m_timer, &QTimer::timeout, this, &LatenessProbe::tick);
    m_clock.start();
    m_timer.start();
}

void LatenessProbe::tick()
{
    const qint64 now = m_clock.nsecsElapsed();
    const qint64 cpu = threadCpuNs();
    if (m_lastTickNs >= 0) {
        const qint64 lateness = std::max<qint64>(0, now - m_lastTickNs - qint64(m_intervalMs) * 1'000'000);
        m_latenessNs.push_back(lateness);
        if (lateness > m_worstLatenessNs) {
            m_worstLatenessNs = lateness;
            m_worstGapCpuNs = cpu - m_lastCpuNs;
        }
    }
    m_lastTickNs = now;
    m_lastCpuNs = cpu;
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
    figures.worstGapCpuMs = double(m_worstGapCpuNs) / 1e6;
    return figures;
}

void LatenessProbe::reset()
{
    m_latenessNs.clear();
    m_worstLatenessNs = -1;
    m_worstGapCpuNs = 0;
}
