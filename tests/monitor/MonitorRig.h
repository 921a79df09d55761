#pragma once

#include "IntruderAlert.h"
#include "IntruderRecord.h"
#include "MonitoringState.h"
#include "MonitoringSwitch.h"
#include "OptionsModel.h"
#include "SettingsManager.h"
#include "SettingsStore.h"
#include "SoundPlayer.h"
#include "StatusReporter.h"

#include <QHash>
#include <QStringList>

// Status lines, status texts, sounds and alerts, all in one log in the order they happened.
struct RecordingOutput final : StatusReporter, SoundPlayer, IntruderAlert
{
    void addStatusLine(const QString& text) override { log << QLatin1String("line:") + text; }
    void setStatusText(const QString& text) override { log << QLatin1String("text:") + text; }
    void play(const QString& fileName) override { log << QLatin1String("sound:") + fileName; }
    void raiseIntruderAlert(const IntruderRecord& intruder) override
    {
        alerts.push_back(intruder);
        log << QStringLiteral("alert");
    }
    QStringList lines() const
    {
        QStringList lines;
        for (const QString& entry : log) {
            if (entry.startsWith(QLatin1String("line:")))
                lines << entry.mid(5);
        }
        return lines;
    }

    QStringList log;
    std::vector<IntruderRecord> alerts;
};

struct MemorySettingsStore final : SettingsStore
{
    QString read(const QString& section, const QString& key) const override
    {
        return values[section + '/' + key];
    }
    void write(const QString& section, const QString& key, const QString& value) override
    {
        values[section + '/' + key] = value;
    }
    void sync() override { }

    QHash<QString, QString> values;
};

// A monitoring switch with its settings in memory and everything it reports recorded.
struct MonitorRig
{
    explicit MonitorRig(const QStringList& ports, SentinelSchedule schedule = {}, bool soundsOn = false)
        : monitoring(out, state, options, settings, out, out, std::move(schedule))
    {
        configure(ports, soundsOn, false);
    }

    // The settings as loading them from the store leaves them, e.g. when the options close.
    void configure(const QStringList& ports, bool soundsOn, bool rps)
    {
        store.values = { { "Sounds/On", soundsOn ? "True" : "False" }, { "Sounds/3", "Start.wav" },
            { "Advance/RPS", rps ? "1" : "0" }, { "Ports/Number", QString::number(ports.size() - 1) } };
        for (int i = 0; i < ports.size(); ++i)
            store.values["Ports/" + QString::number(i)] = ports.at(i);
        settings.loadSettings();
    }
    void configureRps(bool rps) { configure(options.ports(), false, rps); }

    MemorySettingsStore store;
    OptionsModel options;
    SettingsManager settings { store, options };
    MonitoringState state;
    RecordingOutput out;
    MonitoringSwitch monitoring;
};

inline QStringList texts(const std::vector<int>& ports)
{
    QStringList list;
    for (const int port : ports)
        list << QString::number(port);
    return list;
}

// The log of one intrusion: the status text, six lines, then the alert.
inline QStringList intrusionLog(const QString& address, int port)
{
    const QString p = QString::number(port);
    return { "text:Intruder Detected: " + address + " Port: " + p, "line:", "line:Intruder Detected",
        "line:IP: " + address, "line:Attacked Port: " + p, "line:Message: ", "line:End Of Attack", "alert" };
}
