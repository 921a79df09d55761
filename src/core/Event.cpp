#include "Event.h"

#include <iterator>
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

namespace {
// The names the outputs write, in the order of the enumerations.
constexpr const char* KindNames[] = { "intrusion", "monitoring_started", "monitoring_stopped", "port_unguarded",
    "network_changed", "program_started", "program_exited", "allowed", "incident_ended", "port_scan", "blocked",
    "unblocked", "flood" };
constexpr const char* ReasonNames[] = { "", "in_use", "needs_privileges", "invalid_port" };
constexpr const char* DetectionNames[] = { "connect", "half_open", "fin", "null", "xmas", "udp", "fragment" };
static_assert(std::size(KindNames) == std::size_t(Event::Kind::Flood) + 1);
static_assert(std::size(ReasonNames) == std::size_t(Event::Reason::InvalidPort) + 1);
static_assert(std::size(DetectionNames) == std::size_t(Event::Detection::Fragment) + 1);

template <std::size_t N> const char* nameOf(const char* const (&names)[N], auto value, const char* otherwise)
{
    const auto index = std::size_t(value);
    return index < N ? names[index] : otherwise;
}
} // namespace

const char* Event::kindName(Kind kind)
{
    return nameOf(KindNames, kind, "unknown");
}

const char* Event::reasonName(Reason reason)
{
    return nameOf(ReasonNames, reason, "");
}

const char* Event::detectionName(Detection detection)
{
    return nameOf(DetectionNames, detection, "connect");
}
