#include "IntrusionHandler.h"

#include "IntruderAlert.h"
#include "StatusReporter.h"

IntrusionHandler::IntrusionHandler(StatusReporter& status, IntruderAlert& alert)
    : m_status(status)
    , m_alert(alert)
{
}

void IntrusionHandler::handleIntrusion(const QString& peerAddress, int localPort)
{
    // The record is filled before anything reads it, so the alert sees this intrusion.
    m_intruder.intruderIP = peerAddress;
    m_intruder.attackedPort = localPort;

    const QString port = QString::number(localPort);
    m_status.setStatusText(
        QLatin1String("Intruder Detected: ") + peerAddress + QLatin1String(" Port: ") + port);
    m_status.addStatusLine(QString());
    m_status.addStatusLine(QStringLiteral("Intruder Detected"));
    m_status.addStatusLine(QLatin1String("IP: ") + peerAddress);
    m_status.addStatusLine(QLatin1String("Attacked Port: ") + port);
    m_status.addStatusLine(QLatin1String("Message: ") + m_intruder.intruderMessage);
    m_status.addStatusLine(QStringLiteral("End Of Attack"));

    m_alert.raiseIntruderAlert(m_intruder);
}
