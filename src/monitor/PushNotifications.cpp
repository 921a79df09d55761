#include "PushNotifications.h"

#include "Event.h"
#include "Incident.h"
#include "IntrusionHandler.h"

#include <QSysInfo>

namespace {
QString counted(qsizetype count, const char* noun)
{
    return QStringLiteral("%1 %2%3").arg(count).arg(QLatin1String(noun), count == 1 ? "" : "s");
}
} // namespace

PushNotifications::PushNotifications(StatusReporter& status, PushTiming timing)
    : m_format(QSysInfo::machineHostName())
    , m_delivery(status, timing)
{
}

void PushNotifications::intrusion(const Intrusion& intrusion)
{
    if (!intrusion.incident || intrusion.incident->count != 1 || !m_delivery.isUsable())
        return;
    const Event& record = intrusion.record;
    PushMessage message;
    message.title = QStringLiteral("Intruder Detected");
    message.priority = PushMessage::Priority::High;
    message.text = QStringLiteral("IP: %1 Port: %2").arg(intrusion.intruder.intruderIP).arg(intrusion.intruder.attackedPort);
    if (record.kind == Event::Kind::PortScan)
        message.text += QStringLiteral("\nPort scan: %1 ports").arg(record.count);
    else if (Event::isSpoofable(record.detection))
        message.text += QLatin1Char('\n') + IntrusionHandler::messageFor(record.detection);
    message.text += QLatin1String("\nHost: ") + m_format.host();
    message.record = m_format.jsonLine(record);
    m_delivery.send(std::move(message));
}

void PushNotifications::incidentEnded(const Incident& incident, const Event& record)
{
    if (!m_delivery.isUsable())
        return;
    QStringList ports;
    for (qsizetype i = 0; i < incident.ports.size() && i < MaxListedPorts; ++i)
        ports << QString::number(incident.ports.at(i));
    if (incident.ports.size() > MaxListedPorts)
        ports << QStringLiteral("...");
    const QString time = QStringLiteral("HH:mm:ss");
    PushMessage message;
    message.title = QStringLiteral("Incident Ended");
    message.text = QStringLiteral("IP: %1\n%2 to %3: %4\nFrom %5 to %6\nHost: %7")
                       .arg(incident.address, counted(incident.count, "connection"),
                           counted(incident.ports.size(), "port"), ports.join(QLatin1String(", ")),
                           incident.first.toString(time), incident.last.toString(time), m_format.host());
    message.record = m_format.jsonLine(record);
    m_delivery.send(std::move(message));
}
