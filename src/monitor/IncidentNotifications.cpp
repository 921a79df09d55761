#include "IncidentNotifications.h"

#include "Incident.h"
#include "IntruderBlocker.h"
#include "IntruderRecord.h"
#include "NotificationService.h"

#include <QDateTime>

#include <algorithm>
#include <cstring>

namespace {
// How each detection reads in a notification, by the name the events give it.
constexpr std::pair<const char*, const char*> Kinds[]
    = { { "connect", "Completed connection" }, { "half_open", "Half-open SYN probe" }, { "fin", "FIN probe" },
          { "null", "NULL probe" }, { "xmas", "Xmas probe" }, { "udp", "UDP datagram" },
          { "fragment", "Fragment" }, { "port_scan", "Port scan" } };

QLatin1String kindOf(const IntruderRecord& intruder)
{
    for (const auto& [detection, text] : Kinds)
        if (std::strcmp(detection, intruder.detection) == 0)
            return QLatin1String(text);
    return QLatin1String(intruder.detection);
}

bool isUdp(const IntruderRecord& intruder)
{
    return std::strcmp(intruder.detection, "udp") == 0;
}

// The first of the incident's ports, those the body lists.
bool isListed(const Incident& incident, int port)
{
    const auto end
        = incident.ports.cbegin() + std::min(incident.ports.size(), IncidentNotifications::MaxListedPorts);
    return std::find(incident.ports.cbegin(), end, port) != end;
}
} // namespace

IncidentNotifications::IncidentNotifications(NotificationService& service, Throttle::Clock clock)
    : m_service(service)
    , m_clock(clock)
    , m_rate(RateInterval, std::move(clock), Burst)
{
}

IncidentNotifications::~IncidentNotifications()
{
    QObject::disconnect(m_blockerChanged);
}

void IncidentNotifications::setBlocker(IntruderBlocker* blocker)
{
    QObject::disconnect(m_blockerChanged);
    m_blocker = blocker;
    if (blocker)
        m_blockerChanged
            = QObject::connect(blocker, &IntruderBlocker::changed, blocker, [this] { blockingChanged(); });
}

void IncidentNotifications::intrusion(const Intrusion& intrusion)
{
    if (!intrusion.incident)
        return;
    const Incident& incident = *intrusion.incident;
    const bool isNew = incident.count == 1;
    if (!m_enabled || (!isNew && !m_updated.contains(incident.id)))
        return;
    if (isNew) {
        if (!m_service.canNotify(incident.id))
            return;
        if (!m_rate.tryPass()) {
            countMoreSources();
            return;
        }
        if (m_updated.size() >= MaxUpdated)
            m_notified.remove(m_updated.takeFirst());
        m_updated.append(incident.id);
        m_notified.insert(incident.id, { incident.source, {}, {}, {}, blockLine(incident.source) });
    }
    // Every port's protocol is noted, shown or not, so that a later update labels it.
    Notified& notified = m_notified[incident.id];
    const int port = intrusion.intruder.attackedPort;
    if (isListed(incident, port)) {
        QList<int>& seen = isUdp(intrusion.intruder) ? notified.udp : notified.tcp;
        if (!seen.contains(port))
            seen.append(port);
    }
    if (!m_service.canNotify(incident.id))
        return;
    notified.text = body(incident, notified, intrusion.intruder);
    m_service.notify(incident.id, summary(), notified.text + notified.blockLine);
}

void IncidentNotifications::countMoreSources()
{
    const std::chrono::milliseconds now = m_clock();
    if (m_moreSources > 0 && now - m_lastMoreSource > MoreSourcesReset)
        m_moreSources = 0;
    m_lastMoreSource = now;
    m_service.notify(MoreSourcesKey, summary(), moreSourcesBody(++m_moreSources));
}

QString IncidentNotifications::moreSourcesBody(quint64 sources)
{
    return sources == 1 ? QStringLiteral("1 more source") : QStringLiteral("%1 more sources").arg(sources);
}

QString IncidentNotifications::body(
    const Incident& incident, const Notified& notified, const IntruderRecord& intruder)
{
    const QString& ports = portList(incident, notified);
    const QLatin1String kind = kindOf(intruder);
    QString text;
    text.reserve(incident.address.size() + kind.size() + ports.size() + 64);
    text += QLatin1String("IP: ");
    text += incident.address;
    text += QLatin1String(" Port: ");
    text += QString::number(intruder.attackedPort);
    if (isUdp(intruder))
        text += QLatin1String("/udp");
    text += QLatin1Char('\n');
    text += kind;
    // A completed handshake proves the address; anything less can carry another's.
    if (intruder.spoofable)
        text += QLatin1String(": the address may be forged");
    text += ports;
    return text;
}

const QString& IncidentNotifications::portList(const Incident& incident, const Notified& notified)
{
    const qsizetype labels = notified.tcp.size() + notified.udp.size();
    // incident.ports shares its data with m_listedPorts until it grows: a cheap comparison.
    if (incident.id == m_listedIncident && incident.ports == m_listedPorts && labels == m_listedLabels)
        return m_portList;
    m_listedIncident = incident.id;
    m_listedPorts = incident.ports;
    m_listedLabels = labels;
    m_portList.clear();
    // The sentinel can add ports without end; the count says the rest.
    QStringList list;
    qsizetype both = 0;
    for (qsizetype i = 0; i < incident.ports.size() && i < MaxListedPorts; ++i) {
        const int port = incident.ports.at(i);
        const bool udp = notified.udp.contains(port);
        if (!udp || notified.tcp.contains(port))
            list << QString::number(port);
        if (udp)
            list << QString::number(port) + QLatin1String("/udp");
        both += udp && notified.tcp.contains(port);
    }
    if (list.size() > 1) {
        if (incident.ports.size() > MaxListedPorts)
            list << QStringLiteral("...");
        m_portList = QStringLiteral("\n%1 ports so far: %2")
                         .arg(incident.ports.size() + both)
                         .arg(list.join(QLatin1String(", ")));
    }
    return m_portList;
}

QString IncidentNotifications::blockLine(const IpAddress& address) const
{
    const IntruderBlocker::Entry* block = m_blocker ? m_blocker->blockOf(address) : nullptr;
    if (!block)
        return {};
    const QDateTime until = QDateTime::currentDateTime().addSecs(IntruderBlocker::secondsLeft(*block));
    return QLatin1String("\nBlocked until ") + until.toString(QStringLiteral("HH:mm"));
}

// Blocked or unblocked, from here, the status list, the Blocking page or automatically: each
// notification still updated and still open shows it, and the buttons change with it.
void IncidentNotifications::blockingChanged()
{
    if (!m_enabled)
        return;
    for (const quint64 key : std::as_const(m_updated)) {
        Notified& notified = m_notified[key];
        QString line = blockLine(notified.address);
        if (line == notified.blockLine)
            continue;
        notified.blockLine = std::move(line);
        if (!notified.text.isEmpty() && m_service.isOpen(key))
            m_service.notify(key, summary(), notified.text + notified.blockLine);
    }
}

QStringList IncidentNotifications::actionsFor(quint64 key)
{
    const auto found = m_notified.constFind(key);
    if (!m_blocker || found == m_notified.cend())
        return {};
    if (m_blocker->isBlocked(found->address))
        return { QStringLiteral("unblock"), QStringLiteral("Unblock") };
    if (m_blocker->canBlock(found->address))
        return { QStringLiteral("block"), QStringLiteral("Block for 1 hour") };
    return {};
}

void IncidentNotifications::act(quint64 key, const QString& action)
{
    const auto found = m_notified.constFind(key);
    if (!m_blocker || found == m_notified.cend())
        return;
    if (action == QLatin1String("block"))
        (void)m_blocker->block(found->address, BlockSeconds);
    else if (action == QLatin1String("unblock"))
        (void)m_blocker->unblock(found->address);
}
