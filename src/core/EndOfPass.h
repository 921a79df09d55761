#pragma once

#include <functional>

class QTimer;

// Work put off to the end of the current pass of the event loop, as a single-shot timer of zero
// would run it, but behind one timer for everyone: the outputs that write what a pass produced
// (the status mirror, Log.txt, events.jsonl) each had a timer of their own, and starting and
// firing three timers cost a tenth of an intrusion. Flushes run in the order they were scheduled;
// one scheduled while the flushes run waits for the next pass, unless it still waits for its turn
// in this one. Event-loop thread only.
class EndOfPass
{
public:
    explicit EndOfPass(std::function<void()> flush);
    ~EndOfPass();
    EndOfPass(const EndOfPass&) = delete;
    EndOfPass& operator=(const EndOfPass&) = delete;

    // Harmless when already scheduled.
    void schedule();
    void cancel();
    bool isScheduled() const { return m_scheduled; }

private:
    static QTimer& timer();
    static void runDue();

    std::function<void()> m_flush;
    bool m_scheduled = false;
};
