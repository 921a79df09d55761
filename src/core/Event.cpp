#include "Event.h"

#include <limits>

QDateTime Event::localNow()
{
    // Local time costs a look at the zone rules (and a stat of /etc/localtime) on every call, which
    // under a flood was a tenth of an intrusion's cost. The offset can only change between two
    // whole seconds, so it is looked up once a second and the time is built from it.
    static qint64 cachedSecond = std::numeric_limits<qint64>::min();
    static int cachedOffset = 0;
    const qint64 msecs = QDateTime::currentMSecsSinceEpoch();
    const qint64 second = msecs >= 0 ? msecs / 1000 : (msecs - 999) / 1000;
    if (second != cachedSecond) {
        cachedOffset = QDateTime::fromMSecsSinceEpoch(msecs).offsetFromUtc();
        cachedSecond = second;
    }
    return QDateTime::fromMSecsSinceEpoch(msecs, Qt::OffsetFromUTC, cachedOffset);
}

Event Event::now(Kind kind)
{
    Event event;
    event.kind = kind;
    event.time = localNow();
    return event;
}

Event Event::intrusion(const QString& address, int sourcePort, int port, bool sentinel, Detection detection)
{
    Event event = now(Kind::Intrusion);
    event.address = address;
    event.sourcePort = sourcePort;
    event.port = port;
    event.sentinel = sentinel;
    event.detection = detection;
    return event;
}

Event Event::allowed(const QString& address, int sourcePort, int port, bool sentinel, Detection detection)
{
    Event event = intrusion(address, sourcePort, port, sentinel, detection);
    event.kind = Kind::Allowed;
    return event;
}

Event Event::portScan(
    quint64 incident, const QString& address, const QString& ports, int portCount, bool spoofable, bool ended)
{
    Event event = now(Kind::PortScan);
    event.incident = incident;
    event.address = address;
    event.ports = ports;
    event.count = portCount;
    event.spoofable = spoofable;
    event.scanEnded = ended;
    return event;
}

Event Event::incidentEnded(quint64 incident, const QString& address, const QDateTime& first,
    const QDateTime& last, const QString& ports, int count)
{
    Event event = now(Kind::IncidentEnded);
    event.incident = incident;
    event.address = address;
    event.first = first;
    event.last = last;
    event.ports = ports;
    event.count = count;
    return event;
}

Event Event::portUnguarded(const QString& entry, int port, Reason reason)
{
    Event event = now(Kind::PortUnguarded);
    event.entry = entry;
    event.port = port;
    event.reason = reason;
    return event;
}

Event Event::networkChanged(bool connected)
{
    Event event = now(Kind::NetworkChanged);
    event.connected = connected;
    return event;
}

Event Event::blocked(const QString& address, int seconds, bool automatic)
{
    Event event = now(Kind::Blocked);
    event.address = address;
    event.seconds = seconds;
    event.automatic = automatic;
    return event;
}

Event Event::unblocked(const QString& address, const char* cause)
{
    Event event = now(Kind::Unblocked);
    event.address = address;
    event.cause = cause;
    return event;
}

Event Event::flood(
    const char* folded, qint64 probes, qint64 sources, const QString& address, int sourcePort, int port)
{
    Event event = now(Kind::Flood);
    event.folded = folded;
    event.probes = probes;
    event.sources = sources;
    event.address = address;
    event.sourcePort = sourcePort;
    event.port = port;
    return event;
}

Event Event::programStarted(const QString& version, const QString& programFolder)
{
    Event event = now(Kind::ProgramStarted);
    event.version = version;
    event.programFolder = programFolder;
    return event;
}

const char* Event::kindName(Kind kind)
{
    switch (kind) {
    case Kind::Intrusion:
        return "intrusion";
    case Kind::MonitoringStarted:
        return "monitoring_started";
    case Kind::MonitoringStopped:
        return "monitoring_stopped";
    case Kind::PortUnguarded:
        return "port_unguarded";
    case Kind::NetworkChanged:
        return "network_changed";
    case Kind::ProgramStarted:
        return "program_started";
    case Kind::ProgramExited:
        return "program_exited";
    case Kind::Allowed:
        return "allowed";
    case Kind::IncidentEnded:
        return "incident_ended";
    case Kind::PortScan:
        return "port_scan";
    case Kind::Blocked:
        return "blocked";
    case Kind::Unblocked:
        return "unblocked";
    case Kind::Flood:
        return "flood";
    }
    return "unknown";
}

const char* Event::reasonName(Reason reason)
{
    switch (reason) {
    case Reason::None:
        return "";
    case Reason::InUse:
        return "in_use";
    case Reason::NeedsPrivileges:
        return "needs_privileges";
    case Reason::InvalidPort:
        return "invalid_port";
    }
    return "";
}

const char* Event::detectionName(Detection detection)
{
    switch (detection) {
    case Detection::Connect:
        return "connect";
    case Detection::HalfOpen:
        return "half_open";
    case Detection::Fin:
        return "fin";
    case Detection::Null:
        return "null";
    case Detection::Xmas:
        return "xmas";
    case Detection::Udp:
        return "udp";
    case Detection::Fragment:
        return "fragment";
    }
    return "connect";
}
