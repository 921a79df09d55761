#include "Throttle.h"

#include <algorithm>

Throttle::Throttle(std::chrono::milliseconds interval, Clock clock, int burst)
    : m_interval(interval)
    , m_clock(std::move(clock))
    , m_burst(std::max(1, burst))
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
    // Passing would push the refill further than burst - 1 intervals ahead: the allowance is spent.
    if (m_fullAgain && *m_fullAgain - now > (m_burst - 1) * m_interval)
        return false;
    m_fullAgain = std::max(m_fullAgain.value_or(now), now) + m_interval;
    return true;
}
