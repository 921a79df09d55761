#pragma once

#include <QtGlobal>

#include <functional>

// When the auto-scroll must wait for the reader. Any use of the list (keys, wheel, clicks, the
// scroll bar) holds it until the list has been left alone for IdleMs. A reader who moved away
// from the end and comes back to it is done reading: that releases it at once. Going to the end
// from wherever the auto-scroll left the view (End) is reading the newest lines, and holds.
class AutoScrollHold
{
public:
    using Clock = std::function<qint64()>; // milliseconds, never going back
    static constexpr qint64 IdleMs = 10000;

    explicit AutoScrollHold(Clock clock);

    // The user acted on the list; atEnd: the last line is in view afterwards.
    void userActed(bool atEnd);
    bool isHolding() const;

private:
    Clock m_clock;
    bool m_holding = false;
    bool m_away = false;
    qint64 m_lastAction = 0;
};
