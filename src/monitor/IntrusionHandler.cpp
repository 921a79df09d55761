#include "IntrusionHandler.h"

#include "Event.h"
#include "EventSink.h"
#include "IntruderAlert.h"
#include "StatusReporter.h"

IntrusionHandler::IntrusionHandler(StatusReporter& status, IntruderAlert& alert, EventSink& events)
    : m_status(status)
    , m_alert(alert)
    , m_events(events)
{
}

void IntrusionHandler::handleIntrusion(const QString& peerAddress, int localPort, int peerPort, bool sentinel)
{
    const Event event = Event::intrusion(peerAddress, peerPort, localPort, sentinel);
    // The record is filled before anything reads it, so the alert sees this intrusion.
    m_intruder.intruderIP = peerAddress;
    m_intruder.attackedPort = localPort;
    m_intruder.sourcePort = peerPort;
    m_intruder.time = event.time;

    const QString port = QString::number(localPort);
    m_status.setStatusText(
        QLatin1String("Intruder Detected: ") + peerAddress + QLatin1String(" Port: ") + port);
    m_status.addStatusLine(QString());
    m_status.addStatusLine(QStringLiteral("Intruder Detected"));
    m_status.addStatusLine(QLatin1String("IP: ") + peerAddress);
    m_status.addStatusLine(QLatin1String("Attacked Port: ") + port);
    m_status.addStatusLine(QLatin1String("Message: ") + m_intruder.intruderMessage);
    m_status.addStatusLine(QStringLiteral("End Of Attack"));

    m_events.record(event);
    m_alert.raiseIntruderAlert(m_intruder);
}
