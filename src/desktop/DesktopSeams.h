#pragma once

// What the secondary windows (options dialog, About box), the hotkeys and the notifications ask of
// the monitor window. The window implements it; the callers know only the interface.
class MonitorWindowAccess
{
public:
    virtual ~MonitorWindowAccess() = default;
    // Brings the window back from the tray or the task bar: visible, then normal, raised and active.
    virtual void restoreMonitor() = 0;
    // The monitor window takes no input while the options dialog or the About box is open.
    virtual void setMonitorEnabled(bool enabled) = 0;
};
