#pragma once

#include "MonitorFakes.h"
#include "MonitoringState.h"
#include "MonitoringSwitch.h"
#include "OptionsModel.h"
#include "SettingsManager.h"

// A monitoring switch with recording fakes around it and its settings in memory.
struct MonitorRig
{
    explicit MonitorRig(const QStringList& ports, SentinelSchedule schedule = {})
        : monitoring(status, state, options, settings, sound, alert, std::move(schedule))
    {
        configure(ports, true, false);
    }

    // What loading the settings gives, as the options dialog closing would leave it.
    void configure(const QStringList& ports, bool soundsOn, bool rps)
    {
        store.write(QStringLiteral("Sounds"), QStringLiteral("On"), soundsOn ? "True" : "False");
        store.write(QStringLiteral("Sounds"), QStringLiteral("3"), QStringLiteral("Start.wav"));
        store.write(QStringLiteral("Advance"), QStringLiteral("RPS"), rps ? "1" : "0");
        store.write(QStringLiteral("Ports"), QStringLiteral("Number"), QString::number(ports.size() - 1));
        for (int i = 0; i < ports.size(); ++i)
            store.write(QStringLiteral("Ports"), QString::number(i), ports.at(i));
        settings.loadSettings();
    }

    static QStringList texts(const std::vector<int>& ports)
    {
        QStringList list;
        for (const int port : ports)
            list << QString::number(port);
        return list;
    }

    MemorySettingsStore store;
    OptionsModel options;
    SettingsManager settings { store, options };
    MonitoringState state;
    RecordingStatus status;
    RecordingSoundPlayer sound { status };
    RecordingAlert alert { status };
    MonitoringSwitch monitoring;
};

// The status log of one intrusion: the text, six lines, then the alert.
inline QStringList intrusionLog(const QString& address, int port)
{
    const QString p = QString::number(port);
    return { QLatin1String("text:Intruder Detected: ") + address + QLatin1String(" Port: ") + p,
        QStringLiteral("line:"), QStringLiteral("line:Intruder Detected"),
        QLatin1String("line:IP: ") + address, QLatin1String("line:Attacked Port: ") + p,
        QStringLiteral("line:Message: "), QStringLiteral("line:End Of Attack"), QStringLiteral("alert") };
}
