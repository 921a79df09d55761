#pragma once

#include <chrono>
#include <functional>
#include <optional>

// Lets an action through at most once per interval and drops the calls in between. The clock is
// injected so that a test can run a burst without waiting for real time to pass.
class Throttle
{
public:
    using Clock = std::function<std::chrono::milliseconds()>;

    // A monotonic clock: wall clock changes neither open nor close the gate.
    static std::chrono::milliseconds steadyNow();

    explicit Throttle(std::chrono::milliseconds interval, Clock clock = &Throttle::steadyNow);

    // True when the action may run now; the interval then starts anew.
    bool tryPass();

private:
    std::chrono::milliseconds m_interval;
    Clock m_clock;
    std::optional<std::chrono::milliseconds> m_lastPass;
};
