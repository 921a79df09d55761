#pragma once

#include "TestFiles.h"

// A session bus of the test's own: a dbus-daemon that activates no services, so no notification
// server or other desktop program installed on the machine can answer in place of a fake.
// Announced through DBUS_SESSION_BUS_ADDRESS; create it before the first use of the session bus.
class PrivateSessionBus
{
public:
    PrivateSessionBus()
    {
        const QString config = m_dir.filePath("bus.conf");
        writeFile(config,
            "<busconfig><type>session</type><listen>unix:dir=" + m_dir.path().toUtf8()
                + "</listen><auth>EXTERNAL</auth>"
                  "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                  "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
        m_daemon.start("dbus-daemon", { "--config-file=" + config, "--nofork", "--print-address=1" });
        if (m_daemon.waitForStarted(3000) && m_daemon.waitForReadyRead(3000))
            m_address = m_daemon.readLine().trimmed();
        if (!m_address.isEmpty())
            qputenv("DBUS_SESSION_BUS_ADDRESS", m_address);
    }
    ~PrivateSessionBus()
    {
        m_daemon.terminate();
        m_daemon.waitForFinished(2000);
    }
    bool isRunning() const { return !m_address.isEmpty(); }
    QString address() const { return QString::fromUtf8(m_address); }

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
    QByteArray m_address;
};
