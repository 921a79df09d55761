#pragma once

#include "AlarmOptions.h"
#include "DesktopSeams.h"
#include "MonitorRig.h"
#include "OptionsCycle.h"
#include "SettingValue.h"
#include "StartupTargets.h"
#include "TestStore.h"

#include <QFile>

// The monitor window and the network watch, in one journal.
struct Journal final : MonitorWindowAccess, NetworkWatch
{
    void restoreMonitor() override { calls << "restore"; }
    void setMonitorEnabled(bool on) override { calls << (on ? "enable" : "disable"); }
    void setEnabled(bool on) override { calls << (on ? "netcheck on" : "netcheck off"); }
    void resetNetState() override { }
    QStringList calls;
};

// The options cycle over a settings file, real listeners on free loopback ports, and a journal.
struct CycleRig
{
    explicit CycleRig(const QStringList& ports, bool rps = false)
    {
        settings.firstStartup();
        store.store().write("Ports", "Number", QString::number(ports.size() - 1));
        for (int i = 0; i < ports.size(); ++i)
            store.store().write("Ports", QString::number(i), ports.at(i));
        store.store().write("Advance", "RPS", rps ? "1" : "0");
        store.store().write("Sounds", "On", "False");
        store.store().sync();
        settings.loadSettings();
        alarm.load(); // as start-up does: the store has the newer sections before the dialog opens
        QObject::connect(&cycle, &OptionsCycle::hideRequested, &cycle, [this] { journal.calls << "hide"; });
    }

    // What opening the dialog does to the listeners.
    void open()
    {
        monitoring.closePortListeners();
        journal.calls.clear();
        out.log.clear();
    }

    QByteArray file() const
    {
        QFile f(store.path());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    TestStore store;
    Recorder out;
    OptionsModel options;
    SettingsManager settings { store.store(), options };
    MonitoringState state;
    MonitoringSwitch monitoring { out, state, options, settings, out, out, out };
    Journal journal;
    AlarmOptions alarm { store.store() };
    // Re-applying unloads the sentinel when RPS is off, as the program's re-apply does.
    OptionsCycle cycle { { &settings,
                             [this] {
                                 journal.calls << "reapply";
                                 if (SettingValue::isOff(settings.settings().rps))
                                     monitoring.unloadSentinel();
                             },
                             &journal, &journal, &state, &monitoring, &alarm },
        5 };
};

