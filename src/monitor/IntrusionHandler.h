#pragma once

#include "IntruderRecord.h"

#include <QString>

class IntruderAlert;
class StatusReporter;

// Reports one intrusion: records it, shows it in the status display, then runs the alert
// actions. Every listener, fixed or moving, hands its connections here.
class IntrusionHandler
{
public:
    IntrusionHandler(StatusReporter& status, IntruderAlert& alert);

    void handleIntrusion(const QString& peerAddress, int localPort);

    // The latest intrusion; empty before the first.
    const IntruderRecord& intruder() const { return m_intruder; }

private:
    StatusReporter& m_status;
    IntruderAlert& m_alert;
    IntruderRecord m_intruder;
};
