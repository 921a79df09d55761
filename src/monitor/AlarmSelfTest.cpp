#include "AlarmSelfTest.h"

#include "MonitoringSwitch.h"
#include "StatusReporter.h"

AlarmSelfTest::AlarmSelfTest(MonitoringSwitch& monitoring, StatusReporter& status, QObject* parent)
    : QObject(parent)
    , m_monitoring(monitoring)
    , m_status(status)
{
    m_timeout.setSingleShot(true);
    m_timeout.setInterval(TimeoutMs);
    connect(&m_timeout, &QTimer::timeout, this, &AlarmSelfTest::finish);
    // The listener drops the connection unread: its close says the intrusion has been handled.
    connect(&m_socket, &QTcpSocket::disconnected, this, &AlarmSelfTest::finish);
    connect(&m_socket, &QTcpSocket::errorOccurred, this, &AlarmSelfTest::finish);
}

void AlarmSelfTest::run()
{
    if (isRunning())
        return;
    for (int i = 0; i < m_monitoring.listenerCount(); ++i) {
        const ListeningSocket& listener = m_monitoring.listener(i);
        if (listener.state() == ListeningSocket::State::Listening) {
            m_port = listener.localPort();
            break;
        }
    }
    if (m_port == 0) {
        m_status.setStatusText(QStringLiteral("Test Alarm: no port is being monitored"));
        emit finished(false);
        return;
    }
    m_status.setStatusText(QStringLiteral("Test Alarm: connecting to port %1..").arg(m_port));
    m_countBefore = m_monitoring.intrusions().intrusionCount();
    m_monitoring.intrusions().exemptOnce(IpAddress::fromIpv4(0x7f000001));
    m_timeout.start();
    m_socket.connectToHost(QStringLiteral("127.0.0.1"), quint16(m_port));
}

void AlarmSelfTest::finish()
{
    if (!isRunning())
        return;
    // Cleared first: aborting the socket reports its disconnection straight back here.
    const int port = std::exchange(m_port, 0);
    m_timeout.stop();
    m_socket.abort();
    const bool recorded = m_monitoring.intrusions().intrusionCount() > m_countBefore;
    // An exemption left unused must not let a later real connection from loopback through.
    m_monitoring.intrusions().exemptOnce({});
    m_status.setStatusText(recorded
            ? QStringLiteral("Test Alarm: the intrusion on port %1 was recorded").arg(port)
            : QStringLiteral("Test Alarm: the intrusion on port %1 was NOT recorded").arg(port));
    emit finished(recorded);
}
