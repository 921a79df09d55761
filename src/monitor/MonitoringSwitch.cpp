#include "MonitoringSwitch.h"

#include "ChildCapabilities.h"
#include "Event.h"
#include "EventSink.h"
#include "MonitoringState.h"
#include "OptionsModel.h"
#include "PacketWatch.h"
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
    EventSink& events, SentinelSchedule sentinelSchedule, QObject* parent)
    : QObject(parent)
    , m_status(status)
    , m_monitoringState(monitoringState)
    , m_options(options)
    , m_settings(settings)
    , m_soundPlayer(soundPlayer)
    , m_events(events)
    , m_intrusions(status, events)
    , m_probes(m_intrusions, status)
    , m_sentinel(m_probes, std::move(sentinelSchedule))
{
    ensureListener(0);
    m_probes.setGuarded([this](int port) { return listenerOn(port) != nullptr; },
        [this](int port) {
            const ListeningSocket* listener = listenerOn(port);
            return listener && listener->hasWaiting();
        });
}

void MonitoringSwitch::setPacketWatch(PacketWatch* watch)
{
    m_packetWatch = watch;
    if (watch)
        connect(watch, &PacketWatch::probesSeen, this,
            [this](const QList<TcpProbe>& probes) { m_probes.probesSeen(probes); });
}

void MonitoringSwitch::configureDetection(const Settings::Detection& settings, bool report)
{
    m_detection = settings;
    m_probes.configure(settings, m_intrusions.incidents().gap());
    if (m_state == State::On && m_monitoringState.isActive())
        openTripwires(report);
}

// Without the privilege everything else still works; that is said once, not at every start.
void MonitoringSwitch::startPacketWatch()
{
    if (!m_packetWatch)
        return;
    const PacketWatch::State state = m_packetWatch->start();
    // The helper holds its socket now (or never will): the capability it needed goes, for good.
    if (!keepOnlyBindCapability())
        m_status.addStatusLine(QStringLiteral("Could not give up CAP_NET_RAW; stop Sentrel and report this"));
    m_probes.setWatching(state == PacketWatch::State::Armed);
    if (state == PacketWatch::State::Armed || m_watchReported)
        return;
    m_watchReported = true;
    m_status.addStatusLine(state == PacketWatch::State::NeedsPrivilege
            ? QStringLiteral("Stealth scan watch needs administrator rights")
            : QStringLiteral("Stealth scan watch could not be started"));
}

// What the kernel dropped while a flood outran the reading is said once per stop, as for the
// tripwires.
void MonitoringSwitch::stopPacketWatch()
{
    if (!m_packetWatch)
        return;
    m_packetWatch->stop();
    if (const quint64 dropped = m_packetWatch->takeDropped(); dropped > 0)
        m_status.addStatusLine(
            QStringLiteral("Stealth scan watch: %1 segments dropped, more than the socket holds").arg(dropped));
}

const ListeningSocket* MonitoringSwitch::listenerOn(int port) const
{
    for (const auto& listener : m_listeners) {
        if (listener->localPort() == port && listener->state() == ListeningSocket::State::Listening)
            return listener.get();
    }
    const ListeningSocket& sentinel = m_sentinel.socket();
    return sentinel.state() == ListeningSocket::State::Listening && sentinel.localPort() == port ? &sentinel
                                                                                                 : nullptr;
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
        startPacketWatch();
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
        stopPacketWatch();
        m_probes.setWatching(false);
        endIncidents();
        m_events.record(Event::now(Event::Kind::MonitoringStopped));
    }
}

void MonitoringSwitch::endIncidents()
{
    m_probes.stop();
    m_intrusions.endIncidents();
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
    bindPrivilegedPorts(ports, results, PortBinder::Protocol::Tcp,
        [this](std::size_t i, int fd) { return m_listeners[i]->adopt(fd); });
    m_openedEntries = int(entries.size());
    m_unguarded.clear();
    for (int i = 0; i < entries.size(); ++i) {
        const Event::Reason reason = reasonOf(ports.at(i), results[std::size_t(i)]);
        if (reason != Event::Reason::None)
            m_unguarded.append({ entries.at(i), reason });
    }
    const bool report = !m_monitoringState.isActive();
    if (report) {
        for (int i = 0; i < entries.size(); ++i)
            reportPort(entries.at(i), ports.at(i), results[std::size_t(i)]);
    }
    openTripwires(report);
    m_monitoringState.setActive(true);
}

void MonitoringSwitch::openTripwires(bool report)
{
    const QStringList& entries = m_detection.udpPorts;
    closeTripwires();
    while (m_tripwires.size() < std::size_t(entries.size())) {
        auto& tripwire = m_tripwires.emplace_back(std::make_unique<UdpTripwire>());
        connect(tripwire.get(), &UdpTripwire::datagramReceived, this,
            [this](const IpAddress& peer, int port, int peerPort) { m_probes.datagramSeen(peer, port, peerPort); });
    }
    QList<int> ports;
    std::vector<ListenResult> results;
    for (int i = 0; i < entries.size(); ++i) {
        ports << portOf(entries.at(i));
        results.push_back(
            ports.last() == 0 ? ListenResult::OtherError : m_tripwires[std::size_t(i)]->open(ports.last()));
    }
    bindPrivilegedPorts(ports, results, PortBinder::Protocol::Udp,
        [&](std::size_t i, int fd) { return m_tripwires[i]->adopt(fd, ports.at(qsizetype(i))); });
    m_openedUdpEntries = int(entries.size());
    m_unguardedUdp.clear();
    for (int i = 0; i < entries.size(); ++i) {
        const Event::Reason reason = reasonOf(ports.at(i), results[std::size_t(i)]);
        if (reason != Event::Reason::None)
            m_unguardedUdp.append({ entries.at(i), reason });
    }
    if (report) {
        for (int i = 0; i < entries.size(); ++i)
            reportPort(entries.at(i), ports.at(i), results[std::size_t(i)], true);
    }
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
// it hands back are adopted as if the listeners or tripwires had bound them.
void MonitoringSwitch::bindPrivilegedPorts(const QList<int>& ports, std::vector<ListenResult>& results,
    PortBinder::Protocol protocol, const std::function<ListenResult(std::size_t, int)>& adopt)
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
    const std::vector<PortBinder::Result> bound = m_privilegedBinder->bindPorts(denied, protocol);
    for (std::size_t k = 0; k < indexes.size() && k < bound.size(); ++k) {
        ListenResult& result = results[indexes[k]];
        switch (bound[k].outcome) {
        case PortBinder::Outcome::Bound:
            result = adopt(indexes[k], bound[k].fd);
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

// A UDP entry gets the same lines as a TCP one, named as UDP, since a number may be on both lists.
void MonitoringSwitch::reportPort(const QString& entry, int port, ListenResult result, bool udp)
{
    const QString p = QString::number(port);
    const QString name = udp ? QStringLiteral("UDP Port: ") : QStringLiteral("Port: ");
    const auto unguarded = [&](int number, Event::Reason reason) {
        Event event = Event::portUnguarded(entry, number, reason);
        event.udp = udp;
        m_events.record(event);
    };
    if (port == 0) {
        m_status.addStatusLine(name + entry + QLatin1String(" is not a valid port"));
        unguarded(0, Event::Reason::InvalidPort);
        return;
    }
    switch (result) {
    case ListenResult::Ok:
        m_status.addStatusLine(QLatin1String("Monitoring ") + name + p);
        break;
    case ListenResult::NeedsPrivileges:
        m_status.addStatusLine(name + p + QLatin1String(" needs administrator rights"));
        unguarded(port, Event::Reason::NeedsPrivileges);
        break;
    case ListenResult::InUse:
    case ListenResult::OtherError:
        m_status.addStatusLine(name + p + QLatin1String(" is already open"));
        unguarded(port, Event::Reason::InUse);
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
    closeTripwires();
}

// What the kernel dropped while the queues were full is said once per closing, not per datagram.
void MonitoringSwitch::closeTripwires()
{
    quint64 dropped = 0;
    for (const auto& tripwire : m_tripwires) {
        dropped += tripwire->takeDropped();
        tripwire->close();
    }
    if (dropped > 0)
        m_status.addStatusLine(
            QStringLiteral("UDP Ports: %1 datagrams dropped, more than the queue holds").arg(dropped));
}

ListeningSocket& MonitoringSwitch::ensureListener(int index)
{
    while (int(m_listeners.size()) <= index) {
        auto& listener = m_listeners.emplace_back(std::make_unique<ListeningSocket>());
        connect(listener.get(), &ListeningSocket::connectionAccepted, this,
            [this](const IpAddress& peer, int port, int peerPort) { m_probes.connectionSeen(peer, port, peerPort); });
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
