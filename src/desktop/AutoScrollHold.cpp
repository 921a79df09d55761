#include "AutoScrollHold.h"

AutoScrollHold::AutoScrollHold(Clock clock)
    : m_clock(std::move(clock))
{
}

void AutoScrollHold::userActed(bool atEnd)
{
    if (m_away && atEnd && isHolding()) {
        m_holding = m_away = false;
        return;
    }
    m_holding = true;
    m_away = !atEnd;
    m_lastAction = m_clock();
}

bool AutoScrollHold::isHolding() const
{
    return m_holding && m_clock() - m_lastAction < IdleMs;
}
