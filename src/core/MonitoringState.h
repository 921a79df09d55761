#pragma once

// Whether the port listeners are meant to be open: off until monitoring first starts. Written by
// the monitoring switch; read by the status display and the options opener.
class MonitoringState
{
public:
    bool isActive() const { return m_active; }
    void setActive(bool active) { m_active = active; }

private:
    bool m_active = false;
};
