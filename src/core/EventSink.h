#pragma once

#include <QtGlobal>

struct Event;

// Where observed events go. Implementations must be cheap: intrusions arrive here at the rate
// a scan brings them, on the user-interface thread.
class EventSink
{
public:
    virtual ~EventSink() = default;
    virtual void record(const Event& event) = 0;
    // The number the last recorded event got; 0 from a sink that numbers none.
    virtual quint64 lastSequence() const { return 0; }
};

// For parts built without outputs (tests, tools).
class NullEventSink final : public EventSink
{
public:
    void record(const Event&) override { }
};
