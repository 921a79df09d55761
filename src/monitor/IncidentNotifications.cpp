#include "IncidentNotifications.h"

#include "Incident.h"
#include "IntruderRecord.h"
#include "NotificationService.h"

IncidentNotifications::IncidentNotifications(NotificationService& service, Throttle::Clock clock)
    : m_service(service)
    , m_clock(clock)
    , m_rate(RateInterval, std::move(clock), Burst)
{
}

void IncidentNotifications::intrusion(const Intrusion& intrusion)
{
    if (!intrusion.incident)
        return;
    const Incident& incident = *intrusion.incident;
    const bool isNew = incident.count == 1;
    if (!m_enabled || (!isNew && !m_updated.contains(incident.id)) || !m_service.canNotify(incident.id))
        return;
    if (isNew) {
        if (!m_rate.tryPass()) {
            countMoreSources();
            return;
        }
        if (m_updated.size() >= MaxUpdated)
            m_addresses.remove(m_updated.takeFirst());
        m_updated.append(incident.id);
        m_addresses.insert(incident.id, incident.source);
    }
    m_service.notify(incident.id, summary(), body(incident, intrusion.intruder.attackedPort));
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

QString IncidentNotifications::body(const Incident& incident, int port)
{
    const qsizetype ports = incident.ports.size();
    if (incident.ports != m_listedPorts) { // shares its data with the incident's list until that grows
        m_portList.clear();
        if (ports > 1) {
            // The sentinel can add ports without end; the count says the rest.
            QStringList list;
            for (qsizetype i = 0; i < ports && i < MaxListedPorts; ++i)
                list << QString::number(incident.ports.at(i));
            if (ports > MaxListedPorts)
                list << QStringLiteral("...");
            m_portList = QStringLiteral("\n%1 ports so far: %2").arg(ports).arg(list.join(QLatin1String(", ")));
        }
        m_listedPorts = incident.ports;
    }
    QString text;
    text.reserve(incident.address.size() + m_portList.size() + 16);
    text += QLatin1String("IP: ");
    text += incident.address;
    text += QLatin1String(" Port: ");
    text += QString::number(port);
    text += m_portList;
    return text;
}
