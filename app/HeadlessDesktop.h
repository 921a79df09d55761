#pragma once

#include "HotkeyPoller.h"
#include "MonitorWindowControl.h"
#include "TrayIcon.h"
#include "XInputKeyState.h"

class StatusReporter;

// Stands in for the monitor window and the tray icon where there is no display: start-up and
// re-applying the settings run unchanged and change nothing on screen. The function keys are the
// real poller, which finds no key state and says so in the status list as it does on a desktop
// without global keys.
class HeadlessDesktop final : public MonitorWindowControl, public TrayIcon
{
public:
    explicit HeadlessDesktop(StatusReporter& status);

    HotkeyPoller& hotkeys() { return m_hotkeys; }

    // MonitorWindowControl: no window to fold, minimize or hide in a tray,
    void toggleMonitorView() override { }
    void minimize() override { }
    void startMinimizedWatch() override { }
    void hideMinimizedMonitor() override { }
    // to keep on top,
    void setAlwaysOnTop() override { }
    void clearAlwaysOnTop() override { }
    // and no status list to measure or scroll.
    void measureStatusList() override { }
    void setAutoScrollEnabled(bool) override { }

    // TrayIcon: never shown.
    void trayIconAdd() override { }
    void trayIconDelete() override { }
    bool isShown() const override { return false; }

private:
    XInputKeyState m_keyState;
    HotkeyPoller m_hotkeys;
};
