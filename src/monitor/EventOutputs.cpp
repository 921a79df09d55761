#include "EventOutputs.h"

#include "Event.h"
#include "Rfc5424.h"
#include "StatusReporter.h"
#include "SystemLog.h"

#include <QCoreApplication>
#include <QDir>
#include <QSysInfo>

namespace {
// LOG_AUTHPRIV, as the local system log uses.
constexpr int Facility = 10;

SystemLog::Level levelOf(const Event& event)
{
    switch (Rfc5424::severity(event)) {
    case 4:
        return SystemLog::Level::Warning;
    case 5:
        return SystemLog::Level::Notice;
    default:
        return SystemLog::Level::Info;
    }
}
} // namespace

EventOutputs::EventOutputs(
    StatusReporter& status, SystemLog& systemLog, RemoteCollector::Backoff backoff, QObject* parent)
    : QObject(parent)
    , m_status(status)
    , m_systemLog(systemLog)
    , m_format(QSysInfo::machineHostName())
    , m_eventLog(status)
    , m_collector(
          [this](quint64 dropped) {
              return Rfc5424::droppedMessage(dropped, EventFormat::timestamp(QDateTime::currentDateTime()),
                  m_format, Facility, m_pid);
          },
          backoff)
    , m_metrics(status)
{
}

EventOutputs::~EventOutputs()
{
    m_eventLog.close();
}

void EventOutputs::configure(const Settings::Events& settings, const QString& programFolder)
{
    m_settings = settings;
    m_format.setFormat(settings.format);
    // A bare name lives in the program folder, like the event log.
    m_metrics.open(settings.metricsFile.isEmpty()
            ? QString()
            : QDir(programFolder).absoluteFilePath(settings.metricsFile));
    if (settings.eventLog)
        m_eventLog.open(programFolder, qint64(settings.eventLogSizeMb) * 1024 * 1024, settings.eventLogFiles);
    else
        m_eventLog.close();

    if (settings.syslog && !m_syslogOpen)
        m_systemLog.open();
    else if (!settings.syslog && m_syslogOpen)
        m_systemLog.close();
    m_syslogOpen = settings.syslog;

    if (const Settings::Collector& collector = settings.collector; collector.isOn()) {
        m_collector.open(collector.host, collector.port,
            collector.protocol == Settings::Collector::Protocol::Udp ? RemoteCollector::Protocol::Udp
                                                                     : RemoteCollector::Protocol::Tcp);
        m_collectorName = QStringLiteral("collector ") + collector.text;
    } else {
        m_collector.close();
        m_collectorName.clear();
    }

    m_configured = true;
    for (Event& event : std::exchange(m_early, {}))
        deliver(event);
}

void EventOutputs::record(const Event& event)
{
    Event numbered = event;
    numbered.sequence = ++m_sequence;
    if (!m_configured) {
        m_early.push_back(std::move(numbered));
        return;
    }
    deliver(numbered);
}

void EventOutputs::deliver(Event& event)
{
    m_metrics.record(event);
    const bool summaryWanted = m_syslogOpen || m_collector.isOpen();
    QByteArray line;
    if (m_eventLog.isOpen()) {
        line = m_format.jsonLine(event);
        m_eventLog.append(line, event.sequence);
    }
    // The system log's line is also the collector's message text: built once for both. An ECS
    // record is the same text for every output, the file's with a line end.
    QByteArray summary;
    if (summaryWanted)
        summary = m_format.format() == Settings::Events::Format::Ecs && !line.isEmpty()
            ? line.chopped(1)
            : m_format.summary(event);
    if (m_syslogOpen) {
        if (const quint64 lost = m_systemLog.write(levelOf(event), summary))
            m_status.addStatusLine(
                QStringLiteral("System log: %1 events could not be written to syslog").arg(lost));
    }
    if (m_collector.isOpen())
        m_collector.send(Rfc5424::message(event, m_format, Facility, m_pid, summary), event.sequence);
    for (EventSink* watcher : m_watchers)
        watcher->record(event);
}

void EventOutputs::flush()
{
    m_eventLog.flush();
    m_metrics.flush();
    m_collector.flush(std::chrono::milliseconds(500));
}

QStringList EventOutputs::missing(quint64 sequence) const
{
    QStringList names;
    if (!m_configured)
        return enabledOutputs();
    if (m_eventLog.isOpen() && m_eventLog.writtenThrough() < sequence)
        names << JsonEventLog::fileName();
    if (m_collector.isOpen() && m_collector.deliveredThrough() < sequence)
        names << m_collectorName;
    return names;
}

QStringList EventOutputs::enabledOutputs() const
{
    QStringList names;
    if (m_settings.eventLog)
        names << JsonEventLog::fileName();
    if (m_settings.syslog)
        names << QStringLiteral("syslog");
    if (!m_collectorName.isEmpty())
        names << m_collectorName;
    return names;
}
