#pragma once

#include <QString>

// The operations that start-up and re-applying settings switch on and off. Each area implements
// its own interface; start-up only fixes the order and the conditions.

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

class MonitoringControl
{
public:
    virtual ~MonitoringControl() = default;
    virtual void toggleMonitoring() = 0;
    // Stops the random port sentinel; harmless when it is not running.
    virtual void unloadSentinel() = 0;
};

class TrayIcon
{
public:
    virtual ~TrayIcon() = default;
    virtual void trayIconAdd() = 0;
    virtual void trayIconDelete() = 0;
    // True while an icon is shown in a notification area that exists.
    virtual bool isShown() const = 0;
};

class HotkeyPoller
{
public:
    virtual ~HotkeyPoller() = default;
    virtual void load() = 0; // starts polling; loading twice changes nothing
    virtual void unload() = 0; // stops polling
};

class StartupRegistration
{
public:
    virtual ~StartupRegistration() = default;
    // Each returns why the change could not be made, as a status line; empty when it was made.
    [[nodiscard]] virtual QString addToStartup() = 0;
    [[nodiscard]] virtual QString removeFromStartup() = 0;
};

class NetworkWatch
{
public:
    virtual ~NetworkWatch() = default;
    virtual void setEnabled(bool enabled) = 0;
    // Forgets the last seen connection state, so the next tick reports a connection again.
    virtual void resetNetState() = 0;
};

// Everything start-up and re-apply act on. All pointers must be set.
struct StartupTargets
{
    MonitorWindowControl* window = nullptr;
    MonitoringControl* monitoring = nullptr;
    TrayIcon* tray = nullptr;
    HotkeyPoller* hotkeys = nullptr;
    StartupRegistration* registration = nullptr;
    NetworkWatch* networkWatch = nullptr;
};
