#pragma once

// Whether port monitoring is on. Unset until monitoring first starts, which reads as "not on".
// Written by the monitoring switch; read by the status display and the options cycle.
class MonitoringState
{
public:
    bool isActive() const { return m_value == 1; }
    void setActive(bool active) { m_value = active ? 1 : 0; }

private:
    short m_value = -1;
};
