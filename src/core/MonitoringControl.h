#pragma once

// What start-up and the function keys switch in port monitoring. The monitor implements it; the
// callers above it know only this.
class MonitoringControl
{
public:
    virtual ~MonitoringControl() = default;
    virtual void toggleMonitoring() = 0;
    // Stops the random port sentinel; harmless when it is not running.
    virtual void unloadSentinel() = 0;
};
