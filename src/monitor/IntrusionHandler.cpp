#include "IntrusionHandler.h"

#include "Event.h"
#include "EventSink.h"
#include "IntruderBlocker.h"
#include "IntrusionObserver.h"
#include "StatusReporter.h"

#include <QStringBuilder>

IntrusionHandler::IntrusionHandler(StatusReporter& status, EventSink& events, Throttle::Clock clock)
    : m_status(status)
    , m_events(events)
    , m_folding(clock)
    , m_incidents(std::move(clock))
{
    m_incidents.setEndedHandler([this](const Incident& incident) { incidentEnded(incident); });
    // Coarse on purpose: an incident's end is a record for later reading, not an alarm.
    m_expiry.setInterval(1000);
    QObject::connect(&m_expiry, &QTimer::timeout, &m_expiry, [this] { expireIncidents(); });
}

void IntrusionHandler::configure(const Settings::Alarm& settings)
{
    m_allow = settings.allow;
    m_incidents.setGap(std::chrono::seconds(settings.scanGapSeconds));
    m_oneAlarmPerScan = settings.oneAlarmPerScan;
}

void IntrusionHandler::handleIntrusion(
    const IpAddress& peer, int localPort, int peerPort, bool sentinel, Event::Detection detection)
{
    const bool exempt = !m_exempt.isNull() && peer == m_exempt;
    if (exempt)
        m_exempt = {};
    if (!exempt && m_allow.contains(peer, localPort)) {
        ++m_allowed;
        m_events.record(Event::allowed(peer.toString(), peerPort, localPort, sentinel, detection));
    } else if (!Event::isSpoofable(detection)
        || !holdsBack(Event::detectionName(detection), peer, peerPort, localPort)) {
        Event event = Event::intrusion(peer.toString(), peerPort, localPort, sentinel, detection);
        raise(event, peer, localPort, peerPort, messageFor(detection), Event::detectionName(detection),
            Event::isSpoofable(detection));
    }
}

void IntrusionHandler::handlePortScan(PortScan& scan)
{
    if (m_allow.contains(scan.address)) {
        scan.allowed = true;
        return;
    }
    if (scan.spoofable && holdsBack("port_scan", scan.address, 0, scan.lastPort)) {
        scan.allowed = true;
        return;
    }
    QStringList ports;
    for (int port : scan.ports)
        ports << QString::number(port);
    Event event = Event::portScan(
        0, scan.address.toString(), ports.join(QLatin1Char(',')), scan.portCount, scan.spoofable, false);
    raise(event, scan.address, scan.lastPort, 0,
        QStringLiteral("port scan: %1 ports within %2 s%3")
            .arg(scan.portCount)
            .arg(scan.windowSeconds)
            .arg(scan.spoofable ? QStringLiteral(": the address may be forged") : QString()),
        "port_scan", scan.spoofable);
    scan.incident = event.incident;
}

void IntrusionHandler::portScanEnded(const PortScan& scan)
{
    if (scan.allowed)
        return;
    QStringList ports;
    for (int port : scan.ports)
        ports << QString::number(port);
    m_events.record(Event::portScan(
        scan.incident, scan.address.toString(), ports.join(QLatin1Char(',')), scan.portCount, scan.spoofable, true));
}

// Every alarm the same way: into its source's incident, the latest intrusion, the status block,
// the event, then the observers.
void IntrusionHandler::raise(Event& event, const IpAddress& source, int localPort, int peerPort,
    const QString& message, const char* detection, bool spoofable)
{
    const QString& peerAddress = event.address;
    const Incident& incident = m_incidents.observe(source, peerAddress, localPort, event.time);
    event.incident = incident.id;
    ++m_intrusions;
    // The record is filled before anything reads it, so the alert sees this intrusion.
    m_intruder.address = source;
    m_intruder.intruderIP = peerAddress;
    m_intruder.attackedPort = localPort;
    m_intruder.sourcePort = peerPort;
    m_intruder.time = event.time;
    m_intruder.incidentId = incident.id;
    m_intruder.alarmAlreadyRaised = m_oneAlarmPerScan && incident.count > 1;
    m_intruder.intruderMessage = message;
    m_intruder.detection = detection;
    m_intruder.spoofable = spoofable;

    // Each text in one allocation, the port written once: this runs for every intrusion.
    const QString port = QString::number(localPort);
    m_status.setStatusText(QLatin1String("Intruder Detected: ") % peerAddress % QLatin1String(" Port: ") % port);
    addStatusBlock(peerAddress, port, message);

    m_events.record(event);
    event.sequence = m_events.lastSequence();
    const Intrusion intrusion { m_intruder, event, &incident };
    for (IntrusionObserver* observer : m_observers)
        observer->intrusion(intrusion);
    keepExpiring();
}

bool IntrusionHandler::holdsBack(const char* kind, const IpAddress& address, int sourcePort, int port)
{
    if (m_blocker && m_blocker->countAttempt(address))
        return true;
    const bool folded = m_folding.fold(kind, address, sourcePort, port);
    // A period that just ended is summed up before anything of the next.
    if (m_folding.hasDue())
        reportFolded();
    keepExpiring();
    return folded;
}

// One status block, one log entry and one event for each kind folded in a period. Neither an
// incident nor the disruptive actions: the alarm rang for the probes before the folding began.
void IntrusionHandler::reportFolded(bool all)
{
    for (const ProbeFolding::Summary& summary : m_folding.takeDue(all)) {
        const QString message = ProbeFolding::message(summary);
        const QString address = summary.address.toString();
        m_status.setStatusText(QLatin1String("Intruder Detected: ") % message);
        addStatusBlock(address, QString::number(summary.port), message);
        Event event = Event::flood(
            summary.kind, summary.probes, summary.sources, address, summary.sourcePort, summary.port);
        m_events.record(event);
        event.sequence = m_events.lastSequence();
        IntruderRecord record;
        record.address = summary.address;
        record.intruderIP = address;
        record.attackedPort = summary.port;
        record.sourcePort = summary.sourcePort;
        record.intruderMessage = message;
        record.detection = summary.kind;
        record.spoofable = true;
        record.time = event.time;
        record.alarmAlreadyRaised = true;
        const Intrusion intrusion { record, event };
        for (IntrusionObserver* observer : m_observers)
            observer->intrusion(intrusion);
    }
}

// The six lines every intrusion adds to the status list, the first empty to part it from the last.
void IntrusionHandler::addStatusBlock(const QString& address, const QString& port, const QString& message)
{
    m_status.addStatusLine(QString());
    m_status.addStatusLine(QStringLiteral("Intruder Detected"));
    m_status.addStatusLine(QLatin1String("IP: ") % address);
    m_status.addStatusLine(QLatin1String("Attacked Port: ") % port);
    m_status.addStatusLine(QLatin1String("Message: ") % message);
    m_status.addStatusLine(QStringLiteral("End Of Attack"));
}

void IntrusionHandler::keepExpiring()
{
    if (!m_expiry.isActive())
        m_expiry.start();
}

QString IntrusionHandler::messageFor(Event::Detection detection)
{
    switch (detection) {
    case Event::Detection::Connect:
        return {};
    case Event::Detection::HalfOpen:
        return QStringLiteral("half-open scan, no handshake: the address may be forged");
    case Event::Detection::Fin:
        return QStringLiteral("FIN scan, no handshake: the address may be forged");
    case Event::Detection::Null:
        return QStringLiteral("NULL scan, no flags: the address may be forged");
    case Event::Detection::Xmas:
        return QStringLiteral("Xmas scan, flags no connection sends: the address may be forged");
    case Event::Detection::Udp:
        return QStringLiteral("UDP probe: the address may be forged");
    case Event::Detection::Fragment:
        return QStringLiteral("fragmented probe: the address may be forged");
    }
    return {};
}

void IntrusionHandler::expireIncidents()
{
    reportFolded();
    const qsizetype open = m_incidents.expire();
    if (open == 0 && !m_folding.isBusy())
        m_expiry.stop();
    // Below the cap again: the flood of sources is over, or pausing.
    if (open < IncidentTracker::MaxOpen)
        reportEndedEarly();
}

void IntrusionHandler::endIncidents()
{
    reportFolded(true);
    m_incidents.endAll();
    m_expiry.stop();
    reportEndedEarly();
}

void IntrusionHandler::reportEndedEarly()
{
    if (const quint64 early = m_incidents.takeEndedEarly()) {
        m_status.addStatusLine(QStringLiteral("Incidents: %1 ended early, more than %2 sources at once")
                                   .arg(early)
                                   .arg(IncidentTracker::MaxOpen));
    }
}

void IntrusionHandler::incidentEnded(const Incident& incident)
{
    QStringList ports;
    for (int port : incident.ports)
        ports << QString::number(port);
    Event event = Event::incidentEnded(incident.id, incident.address, incident.first, incident.last,
        ports.join(QLatin1Char(',')), incident.count);
    m_events.record(event);
    event.sequence = m_events.lastSequence();
    for (IntrusionObserver* observer : m_observers)
        observer->incidentEnded(incident, event);
}
