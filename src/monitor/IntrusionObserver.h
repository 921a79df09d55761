#pragma once

struct Event;
struct Incident;
struct IntruderRecord;

// One alarm as the intrusion handler passes it on, after the status display and the outputs have
// it: the record is the event as the outputs numbered it.
struct Intrusion
{
    const IntruderRecord& intruder;
    const Event& record;
    // Its source's incident as it stands after it (count 1 for the first of an incident); none for
    // the summary of folded probes, whose alarm rang before the folding began.
    const Incident* incident = nullptr;
};

// Everything an alarm sets off beyond the status display and the outputs: the alert actions, the
// desktop notifications, the pushes, the blocking. Each is told in the order it was added.
class IntrusionObserver
{
public:
    virtual ~IntrusionObserver() = default;
    virtual void intrusion(const Intrusion& intrusion) = 0;
    virtual void incidentEnded(const Incident&, const Event& /*record*/) { }
};
