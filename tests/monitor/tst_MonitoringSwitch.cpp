#include "Loopback.h"
#include "MonitorRig.h"

#include <QFile>
#include <QSignalSpy>
#include <QTest>

#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
QStringList monitoringLines(const QStringList& ports)
{
    QStringList lines;
    for (const QString& port : ports)
        lines << QLatin1String("line:Monitoring Port: ") + port;
    return lines;
}

// The lowest port an unprivileged user may bind; 0 when every port is open to everyone.
int unprivilegedPortStart()
{
    QFile file(QStringLiteral("/proc/sys/net/ipv4/ip_unprivileged_port_start"));
    if (!file.open(QIODevice::ReadOnly))
        return 1024;
    return file.readAll().trimmed().toInt();
}
} // namespace

class TestMonitoringSwitch : public QObject
{
    Q_OBJECT

private slots:
    void switchingOnAndOff_data()
    {
        QTest::addColumn<bool>("soundsOn");
        QTest::newRow("sounds on") << true;
        QTest::newRow("sounds off") << false;
    }
    void switchingOnAndOff()
    {
        QFETCH(bool, soundsOn);
        const QStringList ports = MonitorRig::texts(Loopback::freePorts(2));
        MonitorRig rig(ports);
        rig.configure(ports, soundsOn, false);
        QSignalSpy captions(&rig.monitoring, &MonitoringSwitch::captionChanged);
        QCOMPARE(rig.monitoring.caption(), QStringLiteral("Start"));

        rig.monitoring.toggleMonitoring();
        QStringList expected = soundsOn ? QStringList { QStringLiteral("sound:Start.wav") } : QStringList();
        expected << monitoringLines(ports) << QStringLiteral("text:Protecting..");
        QCOMPARE(rig.status.log, expected);
        QCOMPARE(rig.monitoring.caption(), QStringLiteral("Stop"));
        QCOMPARE(captions.count(), 1);
        QCOMPARE(captions.last().at(0).toString(), QStringLiteral("Stop"));
        QVERIFY(rig.state.isActive());
        for (const QString& port : ports)
            QVERIFY(Loopback::isListening(port.toInt()));

        rig.status.clear();
        rig.monitoring.toggleMonitoring();
        QCOMPARE(rig.status.log,
            QStringList(
                { QStringLiteral("line:Monitoring Ports Disabled."), QStringLiteral("text:Disabled.") }));
        QCOMPARE(captions.last().at(0).toString(), QStringLiteral("Start"));
        QVERIFY(!rig.state.isActive());
        for (const QString& port : ports)
            QVERIFY(!Loopback::isListening(port.toInt()));
    }

    void portsThatCannotListenAreReportedAndTheRestStillListen()
    {
        const std::vector<int> free = Loopback::freePorts(3);
        const QString port = QString::number(free[0]);
        const QString held = QString::number(free[1]);
        const QString last = QString::number(free[2]);
        const int holder = Loopback::holdPort(free[1]);
        QVERIFY(holder >= 0);
        MonitorRig rig({ port, port, held, QStringLiteral("abc"), QString(), QStringLiteral("0"),
            QStringLiteral("-5"), QStringLiteral("70000"), last });
        rig.configure(rig.options.ports(), false, false);

        rig.monitoring.toggleMonitoring();
        QCOMPARE(rig.status.lines,
            QStringList({ "Monitoring Port: " + port, "Port: " + port + " is already open",
                "Port: " + held + " is already open", "Port: abc is not a valid port",
                "Port:  is not a valid port", "Port: 0 is not a valid port", "Port: -5 is not a valid port",
                "Port: 70000 is not a valid port", "Monitoring Port: " + last }));
        QCOMPARE(rig.status.texts, QStringList { QStringLiteral("Protecting..") });
        QCOMPARE(rig.monitoring.caption(), QStringLiteral("Stop"));
        QVERIFY(Loopback::isListening(free[2]));
        for (int i = 1; i < rig.monitoring.wsPortsCount() - 1; ++i)
            QCOMPARE(rig.monitoring.wsPorts(i).state(), ListeningSocket::State::Closed);

        // The same failures are silent when the listeners come back after the options.
        rig.status.clear();
        rig.monitoring.closePortListeners();
        rig.monitoring.openPortListeners();
        QVERIFY(rig.status.log.isEmpty());
        ::close(holder);
    }

    void reopeningAfterTheOptionsListensOnTheEditedListSilently()
    {
        const std::vector<int> free = Loopback::freePorts(4);
        MonitorRig rig(MonitorRig::texts({ free[0], free[1], free[2] }));
        rig.monitoring.toggleMonitoring();
        rig.status.clear();

        rig.monitoring.closePortListeners();
        for (const int port : free)
            QVERIFY(!Loopback::isListening(port));
        QCOMPARE(rig.monitoring.caption(), QStringLiteral("Stop"));
        QVERIFY(rig.state.isActive());

        // free[1] gives way to an invalid entry: its element must not keep the old port.
        rig.configure(
            QStringList { QString::number(free[0]), QStringLiteral("abc"), QString::number(free[3]) }, true,
            false);
        rig.monitoring.openPortListeners();
        QVERIFY(rig.status.log.isEmpty());
        QVERIFY(Loopback::isListening(free[0]));
        QVERIFY(!Loopback::isListening(free[1]));
        QVERIFY(!Loopback::isListening(free[2]));
        QVERIFY(Loopback::isListening(free[3]));
    }

    void aSecondStartReusesTheListeners()
    {
        const QStringList ports = MonitorRig::texts(Loopback::freePorts(3));
        MonitorRig rig(ports);
        rig.configure(ports, false, false);
        rig.monitoring.toggleMonitoring();
        std::vector<const ListeningSocket*> first;
        for (int i = 0; i < rig.monitoring.wsPortsCount(); ++i)
            first.push_back(&rig.monitoring.wsPorts(i));
        rig.monitoring.toggleMonitoring();
        rig.status.clear();

        rig.monitoring.toggleMonitoring();
        QCOMPARE(rig.status.log, monitoringLines(ports) << QStringLiteral("text:Protecting.."));
        QCOMPARE(rig.monitoring.wsPortsCount(), 3);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(&rig.monitoring.wsPorts(i), first[std::size_t(i)]);
    }

    void aPrivilegedPortNeedsAdministratorRights()
    {
        const int start = unprivilegedPortStart();
        if (start <= 1)
            QSKIP("every port may be bound without privileges on this system");
        int port = start - 1;
        while (port > 0 && Loopback::isListening(port))
            --port;
        const QStringList expected { "Port: " + QString::number(port) + " needs administrator rights" };

        if (::geteuid() != 0) {
            MonitorRig rig({ QString::number(port) });
            rig.monitoring.toggleMonitoring();
            if (rig.status.lines.value(0).startsWith(QLatin1String("Monitoring Port")))
                QSKIP("this process may bind privileged ports without being root");
            QCOMPARE(rig.status.lines, expected);
            return;
        }

        // As root, the user who lacks the rights is a child that gave them up.
        const passwd* nobody = ::getpwnam("nobody");
        const uid_t uid = nobody ? nobody->pw_uid : 65534;
        const gid_t gid = nobody ? nobody->pw_gid : 65534;
        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
                ::_exit(2);
            MonitorRig rig({ QString::number(port) });
            rig.configure({ QString::number(port) }, false, false);
            rig.monitoring.toggleMonitoring();
            ::_exit(rig.status.lines == expected ? 0 : 1);
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0);
    }

    void oneConnectionIsOneReport_data()
    {
        QTest::addColumn<bool>("ipv6");
        QTest::addColumn<QString>("address");
        QTest::newRow("IPv4") << false << QStringLiteral("127.0.0.1");
        QTest::newRow("IPv6") << true << QStringLiteral("::1");
    }
    void oneConnectionIsOneReport()
    {
        QFETCH(bool, ipv6);
        QFETCH(QString, address);
        const int port = Loopback::freePort();
        MonitorRig rig({ QString::number(port) });
        rig.monitoring.toggleMonitoring();
        rig.status.clear();

        const int client = Loopback::connectTo(port, ipv6);
        if (client < 0 && ipv6)
            QSKIP("no IPv6 loopback on this machine");
        QVERIFY(client >= 0);
        QTRY_COMPARE_WITH_TIMEOUT(rig.alert.alerts.size(), std::size_t(1), 2000);
        QCOMPARE(rig.status.log, intrusionLog(address, port));
        QCOMPARE(rig.alert.alerts[0].intruderIP, address);
        QCOMPARE(rig.alert.alerts[0].attackedPort, port);
        QVERIFY(rig.alert.alerts[0].intruderMessage.isEmpty());
        QCOMPARE(rig.monitoring.intruder().attackedPort, port);
        QVERIFY(Loopback::waitForClose(client, 2000));
        ::close(client);
        QCOMPARE(rig.monitoring.caption(), QStringLiteral("Stop"));
    }

    void connectionsInARowGiveOneBlockEachWithItsOwnPort()
    {
        const std::vector<int> ports = Loopback::freePorts(2);
        MonitorRig rig(MonitorRig::texts(ports));
        rig.monitoring.toggleMonitoring();
        rig.status.clear();

        for (const int port : { ports[0], ports[0], ports[1] }) {
            const std::size_t before = rig.alert.alerts.size();
            const int client = Loopback::connectTo(port);
            QVERIFY(client >= 0);
            QTRY_COMPARE_WITH_TIMEOUT(rig.alert.alerts.size(), before + 1, 2000);
            ::close(client);
        }
        QCOMPARE(rig.status.log,
            intrusionLog("127.0.0.1", ports[0]) + intrusionLog("127.0.0.1", ports[0])
                + intrusionLog("127.0.0.1", ports[1]));
        QVERIFY(Loopback::isListening(ports[0]));
        QVERIFY(Loopback::isListening(ports[1]));
    }

    void aThousandConcurrentConnectionsAreAllRecorded()
    {
        constexpr int Burst = 1000;
        if (!Loopback::ensureDescriptors(Burst + 200))
            QSKIP("the descriptor limit is too low for the burst");
        const int port = Loopback::freePort();
        MonitorRig rig({ QString::number(port) });
        rig.monitoring.toggleMonitoring();
        rig.status.clear();

        std::vector<int> clients;
        for (int i = 0; i < Burst; ++i)
            clients.push_back(Loopback::startConnect(port));
        QTRY_COMPARE_WITH_TIMEOUT(rig.alert.alerts.size(), std::size_t(Burst), 10000);
        QCOMPARE(rig.status.lines.size(), 6 * Burst);
        Loopback::closeAll(clients);

        const int late = Loopback::connectTo(port);
        QVERIFY(late >= 0);
        QTRY_COMPARE_WITH_TIMEOUT(rig.alert.alerts.size(), std::size_t(Burst + 1), 2000);
        ::close(late);
    }
};

QTEST_GUILESS_MAIN(TestMonitoringSwitch)
#include "tst_MonitoringSwitch.moc"
