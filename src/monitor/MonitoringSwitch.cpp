#include "MonitoringSwitch.h"

#include "Event.h"
#include "EventSink.h"
#include "MonitoringState.h"
#include "OptionsModel.h"
#include "PortBinder.h"
#include "SettingsManager.h"
#include "SoundPlayer.h"
#include "StatusReporter.h"

namespace {
// Ports below this one are reserved to privileged processes.
constexpr int PrivilegedPortLimit = 1024;

// An entry names a port only when it is a decimal whole number from 1 to 65535: 0 would let the
// system pick a port nobody asked for.
int portOf(const QString& entry)
{
    bool ok = false;
    const int port = entry.toInt(&ok, 10);
    return ok && port >= 1 && port <= 65535 ? port : 0;
}

Event::Reason reasonOf(int port, ListeningSocket::ListenResult result)
{
    if (port == 0)
        return Event::Reason::InvalidPort;
    switch (result) {
    case ListeningSocket::ListenResult::Ok:
        return Event::Reason::None;
    case ListeningSocket::ListenResult::NeedsPrivileges:
        return Event::Reason::NeedsPrivileges;
    case ListeningSocket::ListenResult::InUse:
    case ListeningSocket::ListenResult::OtherError:
        break;
    }
    return Event::Reason::InUse;
}
} // namespace

MonitoringSwitch::MonitoringSwitch(StatusReporter& status, MonitoringState& monitoringState,
    const OptionsModel& options, const SettingsManager& settings, SoundPlayer& soundPlayer,
    IntruderAlert& alert, EventSink& events, SentinelSchedule sentinelSchedule, QObject* parent)
    : QObject(parent)
    , m_status(status)
    , m_monitoringState(monitoringState)
    , m_options(options)
    , m_settings(settings)
    , m_soundPlayer(soundPlayer)
    , m_events(events)
    , m_intrusions(status, alert, events)
    , m_sentinel(m_intrusions, std::move(sentinelSchedule))
{
    ensureListener(0);
}

MonitoringSwitch::~MonitoringSwitch() = default;

void MonitoringSwitch::toggleMonitoring()
{
    const Settings& settings = m_settings.settings();
    if (m_state == State::Off) {
        if (settings.soundsOn)
            m_soundPlayer.play(m_options.soundFile(OptionsModel::StartSound));
        openPortListeners();
        m_monitoringState.setActive(true);
        if (settings.rps.isOn())
            loadSentinel();
        m_status.setStatusText(QStringLiteral("Protecting.."));
        setState(State::On);
        m_events.record(Event::now(Event::Kind::MonitoringStarted));
    } else {
        closePortListeners();
        m_status.addStatusLine(QStringLiteral("Monitoring Ports Disabled."));
        m_status.setStatusText(QStringLiteral("Disabled."));
        setState(State::Off);
        m_monitoringState.setActive(false);
        unloadSentinel();
        m_intrusions.endIncidents();
        m_events.record(Event::now(Event::Kind::MonitoringStopped));
    }
}

void MonitoringSwitch::unloadSentinel()
{
    m_sentinel.unload();
}

void MonitoringSwitch::loadSentinel()
{
    m_sentinel.load();
}

void MonitoringSwitch::openPortListeners()
{
    const QStringList& entries = m_options.ports();
    QList<int> ports;
    std::vector<ListenResult> results;
    for (int i = 0; i < entries.size(); ++i) {
        ports << portOf(entries.at(i));
        results.push_back(openPortListener(i, ports.last()));
    }
    bindPrivilegedPorts(ports, results);
    m_openedEntries = int(entries.size());
    m_unguarded.clear();
    for (int i = 0; i < entries.size(); ++i) {
        const Event::Reason reason = reasonOf(ports.at(i), results[std::size_t(i)]);
        if (reason != Event::Reason::None)
            m_unguarded.append({ entries.at(i), reason });
    }
    if (!m_monitoringState.isActive()) {
        for (int i = 0; i < entries.size(); ++i)
            reportPort(entries.at(i), ports.at(i), results[std::size_t(i)]);
    }
    m_monitoringState.setActive(true);
}

MonitoringSwitch::ListenResult MonitoringSwitch::openPortListener(int index, int port)
{
    ListeningSocket& listener = ensureListener(index);
    if (port == 0) {
        // Never fall back to whatever port the element served before.
        listener.close();
        return ListenResult::OtherError;
    }
    listener.setLocalPort(port);
    return listener.listen();
}

// The ports the system kept from us go to the privileged binder in one request, and the sockets
// it hands back are adopted as if the listeners had bound them.
void MonitoringSwitch::bindPrivilegedPorts(const QList<int>& ports, std::vector<ListenResult>& results)
{
    std::vector<int> denied;
    std::vector<std::size_t> indexes;
    for (std::size_t i = 0; i < results.size(); ++i) {
        if (results[i] == ListenResult::NeedsPrivileges && ports.at(qsizetype(i)) < PrivilegedPortLimit) {
            denied.push_back(ports.at(qsizetype(i)));
            indexes.push_back(i);
        }
    }
    if (denied.empty() || !m_privilegedBinder)
        return;
    const std::vector<PortBinder::Result> bound = m_privilegedBinder->bindPorts(denied);
    for (std::size_t k = 0; k < indexes.size() && k < bound.size(); ++k) {
        ListenResult& result = results[indexes[k]];
        switch (bound[k].outcome) {
        case PortBinder::Outcome::Bound:
            result = m_listeners[indexes[k]]->adopt(bound[k].fd);
            break;
        case PortBinder::Outcome::InUse:
            result = ListenResult::InUse;
            break;
        case PortBinder::Outcome::NotPermitted:
        case PortBinder::Outcome::Failed:
            break;
        }
    }
}

void MonitoringSwitch::reportPort(const QString& entry, int port, ListenResult result)
{
    const QString p = QString::number(port);
    if (port == 0) {
        m_status.addStatusLine(QLatin1String("Port: ") + entry + QLatin1String(" is not a valid port"));
        m_events.record(Event::portUnguarded(entry, 0, Event::Reason::InvalidPort));
        return;
    }
    switch (result) {
    case ListenResult::Ok:
        m_status.addStatusLine(QLatin1String("Monitoring Port: ") + p);
        break;
    case ListenResult::NeedsPrivileges:
        m_status.addStatusLine(QLatin1String("Port: ") + p + QLatin1String(" needs administrator rights"));
        m_events.record(Event::portUnguarded(entry, port, Event::Reason::NeedsPrivileges));
        break;
    case ListenResult::InUse:
    case ListenResult::OtherError:
        m_status.addStatusLine(QLatin1String("Port: ") + p + QLatin1String(" is already open"));
        m_events.record(Event::portUnguarded(entry, port, Event::Reason::InUse));
        break;
    }
}

void MonitoringSwitch::closePortListeners()
{
    // All listeners, not only as many as the list has now: none may outlive an edit of the list.
    for (const auto& listener : m_listeners) {
        listener->setLocalPort(0);
        listener->close();
    }
}

ListeningSocket& MonitoringSwitch::ensureListener(int index)
{
    while (int(m_listeners.size()) <= index) {
        auto& listener = m_listeners.emplace_back(std::make_unique<ListeningSocket>());
        connect(listener.get(), &ListeningSocket::connectionAccepted, this,
            [this](const QString& peer, int port, int peerPort) {
                m_intrusions.handleIntrusion(peer, port, peerPort, false);
            });
    }
    return *m_listeners[std::size_t(index)];
}

QString MonitoringSwitch::caption(State state)
{
    return state == State::Off ? QStringLiteral("Start") : QStringLiteral("Stop");
}

void MonitoringSwitch::setState(State state)
{
    m_state = state;
    emit captionChanged(caption());
}
