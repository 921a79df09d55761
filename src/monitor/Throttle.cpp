#include "Throttle.h"

Throttle::Throttle(std::chrono::milliseconds interval, Clock clock)
    : m_interval(interval)
    , m_clock(std::move(clock))
{
}

std::chrono::milliseconds Throttle::steadyNow()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
}

bool Throttle::tryPass()
{
    const std::chrono::milliseconds now = m_clock();
    if (m_lastPass && now - *m_lastPass < m_interval)
        return false;
    m_lastPass = now;
    return true;
}
