#pragma once

#include "MonitoringState.h"
#include "MonitoringSwitch.h"
#include "OptionsModel.h"
#include "SettingsManager.h"

#include "Loopback.h"
#include "Recorder.h"

// A monitoring switch with its settings in memory and everything it reports recorded.
struct MonitorRig
{
    explicit MonitorRig(
        const QStringList& ports, SentinelSchedule schedule = {}, bool rps = false, bool soundsOn = false)
        : monitoring(out, state, options, settings, out, out, std::move(schedule))
    {
        monitoring.intrusions().addObserver(&out);
        configure(ports, rps, soundsOn);
    }

    // The settings as loading them from the store leaves them, e.g. when the options close.
    void configure(const QStringList& ports, bool rps = false, bool soundsOn = false)
    {
        out.values = { { "Sounds/On", soundsOn ? "True" : "False" }, { "Sounds/3", "Start.wav" },
            { "Advance/RPS", rps ? "1" : "0" }, { "Ports/Number", QString::number(ports.size() - 1) } };
        for (int i = 0; i < ports.size(); ++i)
            out.values["Ports/" + QString::number(i)] = ports.at(i);
        settings.loadSettings();
    }

    Recorder out;
    OptionsModel options;
    SettingsManager settings { out, options };
    MonitoringState state;
    MonitoringSwitch monitoring;
};

// The log of one intrusion: the status text, six lines, then the alert with an empty message.
inline QStringList intrusionLog(const QString& address, int port)
{
    const QString p = QString::number(port);
    return { "text:Intruder Detected: " + address + " Port: " + p, "line:", "line:Intruder Detected",
        "line:IP: " + address, "line:Attacked Port: " + p, "line:Message: ", "line:End Of Attack",
        "alert:" + address + '|' + p + '|' };
}
