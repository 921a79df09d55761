#include "StartupCheck.h"

#include "Event.h"
#include "EventOutputs.h"
#include "IntruderBlocker.h"
#include "IntruderLog.h"
#include "MonitoringSwitch.h"
#include "PacketWatch.h"
#include "ProtectionState.h"
#include "Settings.h"

#include <QDir>
#include <QFileInfo>
#include <QHostAddress>

StartupCheck::StartupCheck(MonitoringSwitch& monitoring, EventOutputs& events, const Settings& settings,
    std::FILE* out, Finish finish, std::chrono::milliseconds timeout)
    : m_monitoring(monitoring)
    , m_events(events)
    , m_settings(settings)
    , m_out(out)
    , m_finish(std::move(finish))
    , m_timeout(timeout)
{
    m_events.addWatcher(this);
    m_poll.setInterval(2);
    connect(&m_poll, &QTimer::timeout, this, &StartupCheck::poll);
    // Taken when the connection is made: the program closes it at once, often before a poll.
    connect(&m_client, &QTcpSocket::connected, this, [this] { m_clientPort = m_client.localPort(); });
}

StartupCheck::~StartupCheck()
{
    m_events.removeWatcher(this);
}

void StartupCheck::run()
{
    m_elapsed.start();
    m_desktop.start();
    if (!m_monitoring.isOn())
        m_monitoring.toggleMonitoring();
    for (int i = 0; i < m_monitoring.listenerCount() && m_port == 0; ++i) {
        if (m_monitoring.listener(i).state() == ListeningSocket::State::Listening)
            m_port = m_monitoring.listener(i).localPort();
    }
    if (m_port == 0) {
        fail(m_unguarded.isEmpty() ? QStringLiteral("no port could be armed (is monitoring on?)")
                                   : QStringLiteral("no port could be armed: ") + unguardedText());
        return;
    }
    if (m_settings.logs)
        m_logSizeBefore = QFileInfo(logFile()).size();
    m_client.connectToHost(QHostAddress::LocalHost, quint16(m_port));
    m_poll.start();
}

void StartupCheck::record(const Event& event)
{
    if (event.kind == Event::Kind::PortUnguarded) {
        m_unguarded << event;
    } else if (event.kind == Event::Kind::Intrusion && event.port == m_port
        && event.address == QLatin1String("127.0.0.1")) {
        m_intrusionsBySourcePort[event.sourcePort] = event.sequence;
    }
}

void StartupCheck::poll()
{
    if (m_done)
        return;
    if (m_sequence == 0 && m_clientPort != 0) {
        const auto found = m_intrusionsBySourcePort.find(m_clientPort);
        if (found != m_intrusionsBySourcePort.end())
            m_sequence = found->second;
    }
    QStringList missing;
    if (m_sequence == 0)
        missing << QStringLiteral("the status display");
    else
        missing = m_events.missing(m_sequence);
    if (m_logSizeBefore >= 0 && QFileInfo(logFile()).size() <= m_logSizeBefore)
        missing << IntruderLog::fileName();

    // Whether blocking works is part of the verdict: its helper's first answer comes on its own time.
    const bool asking = m_blocker && m_blocker->availability() == IntruderBlocker::Availability::Asking;
    if (missing.isEmpty() && !asking)
        pass();
    else if (m_elapsed.elapsed() > m_timeout.count())
        fail(QStringLiteral("the test intrusion on port %1 did not reach %2 within %3 s")
                 .arg(m_port)
                 .arg(missing.join(QLatin1String(", ")))
                 .arg(m_timeout.count() / 1000.0));
}

void StartupCheck::pass()
{
    QStringList outputs { QStringLiteral("the status display") };
    if (m_logSizeBefore >= 0)
        outputs << IntruderLog::fileName();
    outputs << m_events.enabledOutputs();
    const double ms = double(m_elapsed.nsecsElapsed()) / 1e6;
    const ProtectionState guards = ProtectionState::opened(ProtectionState::survey(m_monitoring, m_blocker));
    QStringList gaps = guards.problems();
    std::fprintf(m_out, "Check passed%s: an intrusion on port %d reached %s in %.1f ms\n",
        gaps.isEmpty() ? "" : " with gaps", m_port, outputs.join(QLatin1String(", ")).toUtf8().constData(), ms);
    if (!guards.remedy().isEmpty())
        gaps << guards.remedy();
    for (const QString& gap : gaps)
        std::fprintf(m_out, "%s\n", gap.toUtf8().constData());
    printPacketWatch();
    m_done = true;
    m_poll.stop();
    end(gaps.isEmpty() ? 0 : GapsExitCode);
}

void StartupCheck::fail(const QString& why)
{
    std::fprintf(m_out, "Check failed: %s\n", why.toUtf8().constData());
    printPacketWatch();
    m_done = true;
    m_poll.stop();
    end(1);
}

void StartupCheck::end(int exitCode)
{
    if (!m_desktop.isFinished()) {
        connect(&m_desktop, &DesktopProbe::finished, this, [this, exitCode] { end(exitCode); });
        return;
    }
    for (const QString& line : DesktopProbe::describe(m_desktop.facts()))
        std::fprintf(m_out, "%s\n", line.toUtf8().constData());
    m_finish(exitCode);
}

QString StartupCheck::unguardedText() const
{
    struct Words
    {
        Event::Reason reason;
        const char* one;
        const char* many;
    };
    static constexpr Words words[] { { Event::Reason::InUse, "port %1 is already open",
                                         "ports %1 are already open" },
        { Event::Reason::NeedsPrivileges, "port %1 needs administrator rights",
            "ports %1 need administrator rights" },
        { Event::Reason::InvalidPort, "entry %1 is not a valid port", "entries %1 are not valid ports" } };
    QStringList parts;
    for (const bool udp : { false, true }) {
        for (const Words& word : words) {
            QStringList entries;
            for (const Event& event : m_unguarded)
                if (event.udp == udp && event.reason == word.reason)
                    entries << event.entry;
            if (!entries.isEmpty())
                parts << QLatin1String(udp ? "UDP " : "TCP ")
                        + QString::fromLatin1(entries.size() == 1 ? word.one : word.many)
                              .arg(entries.join(QLatin1String(", ")));
        }
    }
    return parts.join(QLatin1String("; "));
}

QString StartupCheck::logFile() const
{
    return QDir(m_settings.appPath).filePath(IntruderLog::fileName());
}

void StartupCheck::printPacketWatch()
{
    if (!m_watch)
        return;
    const char* state = "not armed: it failed";
    switch (m_watch->state()) {
    case PacketWatch::State::Armed:
        state = "armed";
        break;
    case PacketWatch::State::NeedsPrivilege:
        state = "not armed: it needs administrator rights";
        break;
    case PacketWatch::State::Off:
        state = "off";
        break;
    case PacketWatch::State::Failed:
        break;
    }
    std::fprintf(m_out, "Packet watch: %s\n", state);
}
