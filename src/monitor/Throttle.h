#pragma once

#include <chrono>
#include <functional>
#include <optional>

// Lets an action through at most once per interval and drops the calls in between; with a burst
// above one, that many may pass at once and the allowance then refills by one per interval. The
// clock is injected so that a test can run a burst without waiting for real time to pass.
class Throttle
{
public:
    using Clock = std::function<std::chrono::milliseconds()>;

    // A monotonic clock: wall clock changes neither open nor close the gate.
    static std::chrono::milliseconds steadyNow();

    explicit Throttle(std::chrono::milliseconds interval, Clock clock = &Throttle::steadyNow, int burst = 1);

    // True when the action may run now; the pass is then taken from the allowance.
    bool tryPass();

private:
    std::chrono::milliseconds m_interval;
    Clock m_clock;
    int m_burst;
    // When the allowance would be whole again: each pass moves it one interval on.
    std::optional<std::chrono::milliseconds> m_fullAgain;
};
