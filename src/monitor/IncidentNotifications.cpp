#include "IncidentNotifications.h"

#include "Incident.h"
#include "NotificationService.h"

IncidentNotifications::IncidentNotifications(NotificationService& service)
    : m_service(service)
{
}

void IncidentNotifications::incidentUpdated(const Incident& incident, int port)
{
    if (m_enabled && m_service.canNotify(incident.id))
        m_service.notify(incident.id, summary(), body(incident, port));
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
