#pragma once

#include <QObject>
#include <QTcpSocket>
#include <QTimer>

class MonitoringSwitch;
class StatusReporter;

// Help > Test Alarm: one loopback connection to the first armed port, so the user sees and hears
// the whole alarm once, then the status text says whether the intrusion was recorded. Its own
// connection counts even when the allow list holds loopback.
class AlarmSelfTest : public QObject
{
    Q_OBJECT

public:
    static constexpr int TimeoutMs = 3000;

    AlarmSelfTest(MonitoringSwitch& monitoring, StatusReporter& status, QObject* parent = nullptr);

    // Does nothing while a test is still under way.
    void run();
    bool isRunning() const { return m_port != 0; }

signals:
    void finished(bool recorded);

private:
    void finish();

    MonitoringSwitch& m_monitoring;
    StatusReporter& m_status;
    QTcpSocket m_socket;
    QTimer m_timeout;
    int m_port = 0;
    quint64 m_countBefore = 0;
};
