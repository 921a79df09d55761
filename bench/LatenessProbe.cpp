#include "LatenessProbe.h"

#include <algorithm>

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
    if (m_lastTickNs >= 0)
        m_latenessNs.push_back(std::max<qint64>(0, now - m_lastTickNs - qint64(m_intervalMs) * 1'000'000));
    m_lastTickNs = now;
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
    return figures;
}

void LatenessProbe::reset()
{
    m_latenessNs.clear();
}
