#pragma once

// What start-up, re-applying the settings and the function keys do to the monitor window.
class MonitorWindowControl
{
public:
    virtual ~MonitorWindowControl() = default;
    virtual void toggleMonitorView() = 0;
    virtual void setAlwaysOnTop() = 0;
    virtual void clearAlwaysOnTop() = 0;
    virtual void minimize() = 0;
    virtual void measureStatusList() = 0;
    virtual void setAutoScrollEnabled(bool enabled) = 0;
    // Starts the timer that runs hideMinimizedMonitor about once a second.
    virtual void startMinimizedWatch() = 0;
    // A minimized window goes into the tray when the icon is in use, else back to the task bar.
    virtual void hideMinimizedMonitor() = 0;
};
