#pragma once

#include "DesktopSeams.h"
#include "HotkeyControl.h"
#include "MonitorWindowControl.h"
#include "MonitoringControl.h"
#include "NetworkWatch.h"
#include "ProgramLauncher.h"
#include "StartupRegistration.h"
#include "StatusReporter.h"
#include "TrayBackend.h"
#include "TrayIcon.h"

// Every desktop part that start-up, the function keys and the tray icon drive, each
// call in one journal, so that a test sees the order across them; the notification area too.
// clang-format off
struct RecordingDesktop final : MonitorWindowControl, MonitorWindowAccess, MonitoringControl, TrayIcon,
                                TrayBackend, HotkeyControl, StartupRegistration, NetworkWatch,
                                ProgramLauncher, StatusReporter
{
    void toggleMonitorView() override { calls << "toggleMonitorView"; }
    void setAlwaysOnTop() override { calls << "setAlwaysOnTop"; }
    void clearAlwaysOnTop() override { calls << "clearAlwaysOnTop"; }
    void minimize() override { calls << "minimize"; }
    void measureStatusList() override { calls << "measureStatusList"; }
    void setAutoScrollEnabled(bool on) override { calls << (on ? "autoScroll on" : "autoScroll off"); }
    void startMinimizedWatch() override { calls << "startMinimizedWatch"; }
    void hideMinimizedMonitor() override { calls << "hideMinimizedMonitor"; }
    void restoreMonitor() override { calls << "restore"; }
    void setMonitorEnabled(bool on) override { calls << (on ? "enable" : "disable"); }
    void toggleMonitoring() override { calls << "toggleMonitoring"; workingFolder = QDir::currentPath(); }
    void unloadSentinel() override { calls << "unloadSentinel"; }
    void trayIconAdd() override { calls << "trayIconAdd"; }
    void trayIconDelete() override { calls << "trayIconDelete"; }
    bool isShown() const override { return trayShown; }
    void setIconVisible(bool visible) override { iconVisible = visible; }
    void setBlank(bool blank) override { calls << (blank ? "blank" : "normal"); }
    void setNormalImage(const QImage& shown) override { image = shown; }
    void setToolTip(const QString& text) override { tip = text; }
    bool isIconVisible() const override { return iconVisible; }
    bool isTrayAvailable() const override { return trayAvailable; }
    bool isSingleClickHost() const override { return singleClick; }
    void load() override { calls << "hotkeys load"; }
    void unload() override { calls << "hotkeys unload"; }
    QString addToStartup() override { calls << "addToStartup"; return registrationProblem; }
    QString removeFromStartup() override { calls << "removeFromStartup"; return registrationProblem; }
    void setEnabled(bool on) override { calls << (on ? "netcheck on" : "netcheck off"); }
    void resetNetState() override { calls << "resetNetState"; }
    bool start(const QString& line, const Environment& = {}) override { return calls << "start " + line, false; }
    void addStatusLine(const QString& text) override { calls << "line " + text; }
    void setStatusText(const QString& text) override { calls << "status " + text; }
    // clang-format on

    QStringList calls;
    QString workingFolder, registrationProblem, tip;
    QImage image;
    bool trayShown = false, iconVisible = false, trayAvailable = true, singleClick = false;
};
