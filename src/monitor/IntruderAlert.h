#pragma once

struct IntruderRecord;

// The alert actions run once per intrusion, after it has been reported in the status display.
class IntruderAlert
{
public:
    virtual ~IntruderAlert() = default;
    virtual void raiseIntruderAlert(const IntruderRecord& intruder) = 0;
};
