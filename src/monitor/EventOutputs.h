#pragma once

#include "EventFormat.h"
#include "EventSink.h"
#include "JsonEventLog.h"
#include "MetricsFile.h"
#include "RemoteCollector.h"
#include "Settings.h"

#include <QCoreApplication>
#include <QObject>
#include <QStringList>

#include <vector>

class StatusReporter;
class SystemLog;

// The machine-readable outputs behind one sink: the JSON event log, the system log, the remote
// collector and the metrics file, each on or off by the "Events" settings, the first three in
// the format those settings name. Events numbered as they arrive;
// those that come before the first configure() (while start-up is still reading the settings)
// wait and go out then, in order.
class EventOutputs : public QObject, public EventSink
{
    Q_OBJECT

public:
    EventOutputs(StatusReporter& status, SystemLog& systemLog, RemoteCollector::Backoff backoff = {},
        QObject* parent = nullptr);
    ~EventOutputs() override;

    // Opens and closes the outputs as the settings say; the JSON log lives in programFolder.
    void configure(const Settings::Events& settings, const QString& programFolder);

    void record(const Event& event) override;
    // Puts what is pending out now, waiting a little for the collector: the program is ending.
    void flush();
    // Each sees every event after the outputs got it (the start-up check, the history).
    void addWatcher(EventSink* watcher) { m_watchers.push_back(watcher); }
    void removeWatcher(EventSink* watcher) { std::erase(m_watchers, watcher); }

    quint64 lastSequence() const override { return m_sequence; }
    // The names of the enabled outputs that do not hold the event yet; empty once all do.
    QStringList missing(quint64 sequence) const;
    // The names of the enabled outputs, e.g. for a report.
    QStringList enabledOutputs() const;

    JsonEventLog& eventLog() { return m_eventLog; }
    RemoteCollector& collector() { return m_collector; }
    MetricsFile& metrics() { return m_metrics; }

private:
    void deliver(Event& event);

    StatusReporter& m_status;
    SystemLog& m_systemLog;
    EventFormat m_format;
    const qint64 m_pid = QCoreApplication::applicationPid(); // asked once: it costs a system call
    JsonEventLog m_eventLog;
    RemoteCollector m_collector;
    MetricsFile m_metrics;
    Settings::Events m_settings;
    bool m_configured = false;
    bool m_syslogOpen = false;
    QString m_collectorName;
    quint64 m_sequence = 0;
    std::vector<Event> m_early;
    std::vector<EventSink*> m_watchers;
};
