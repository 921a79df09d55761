#pragma once

#include "IntruderRecord.h"

#include <QString>

class EventSink;
class IntruderAlert;
class StatusReporter;

// Reports one intrusion: records it, shows it in the status display, then runs the alert
// actions. Every listener, fixed or moving, hands its connections here. The event for the
// machine-readable outputs is built here, once per intrusion.
class IntrusionHandler
{
public:
    IntrusionHandler(StatusReporter& status, IntruderAlert& alert, EventSink& events);

    // sentinel: the connection came in through the random port sentinel.
    void handleIntrusion(const QString& peerAddress, int localPort, int peerPort = 0, bool sentinel = false);

    // The latest intrusion; empty before the first.
    const IntruderRecord& intruder() const { return m_intruder; }

private:
    StatusReporter& m_status;
    IntruderAlert& m_alert;
    EventSink& m_events;
    IntruderRecord m_intruder;
};
