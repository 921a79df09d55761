#pragma once

#include "DesktopSeams.h"
#include "StartupTargets.h"
#include "StatusReporter.h"

#include <QStringList>

// Everything the function keys act on, in one record, so that a test sees the order across them.
class RecordingDesktop final : public MonitorWindowAccess,
                               public MonitorWindowControl,
                               public MonitoringControl,
                               public OptionsOpener,
                               public StatusReporter
{
public:
    void restoreMonitor() override { log << "restore"; }
    void setMonitorEnabled(bool) override { log << "enable"; }
    void toggleMonitorView() override { log << "view"; }
    void setAlwaysOnTop() override { }
    void clearAlwaysOnTop() override { }
    void minimize() override { }
    void measureStatusList() override { }
    void setAutoScrollEnabled(bool) override { }
    void startMinimizedWatch() override { }
    void hideMinimizedMonitor() override { }
    void toggleMonitoring() override { log << "monitoring"; }
    void unloadSentinel() override { }
    void openOptions(OptionsOpenedBy by) override
    {
        log << (by == OptionsOpenedBy::Hotkey ? "options" : "?");
    }
    void addStatusLine(const QString& text) override { log << "line:" + text; }
    void setStatusText(const QString& text) override { log << "text:" + text; }

    QStringList log;
};
