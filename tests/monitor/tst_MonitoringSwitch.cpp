#include "Loopback.h"
#include "MonitorRig.h"

#include <QFile>
#include <QSignalSpy>
#include <QTest>

#include <grp.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
QStringList monitoringLog(const QStringList& ports)
{
    QStringList log;
    for (const QString& port : ports)
        log << "line:Monitoring Port: " + port;
    return log << QStringLiteral("text:Protecting..");
}

// Switched on, with what switching on reported already cleared.
void switchOn(MonitorRig& rig)
{
    rig.monitoring.toggleMonitoring();
    rig.out.log.clear();
}
} // namespace

class TestMonitoringSwitch : public QObject
{
    Q_OBJECT

private slots:
    void switchingOnAndOffAndOnAgain_data()
    {
        QTest::addColumn<bool>("soundsOn");
        QTest::newRow("sounds on") << true;
        QTest::newRow("sounds off") << false;
    }
    void switchingOnAndOffAndOnAgain()
    {
        QFETCH(bool, soundsOn);
        const QStringList ports = texts(Loopback::freePorts(2));
        MonitorRig rig(ports, {}, soundsOn);
        QSignalSpy captions(&rig.monitoring, &MonitoringSwitch::captionChanged);
        QCOMPARE(rig.monitoring.caption(), QStringLiteral("Start"));

        rig.monitoring.toggleMonitoring();
        QCOMPARE(rig.out.log,
            (soundsOn ? QStringList { "sound:Start.wav" } : QStringList()) + monitoringLog(ports));
        QCOMPARE(captions, QList<QVariantList>({ { QStringLiteral("Stop") } }));
        QVERIFY(rig.state.isActive() && Loopback::isListening(ports[0].toInt())
            && Loopback::isListening(ports[1].toInt()));
        const ListeningSocket* second = &rig.monitoring.wsPorts(1);

        rig.out.log.clear();
        rig.monitoring.toggleMonitoring();
        QCOMPARE(rig.out.log, QStringList({ "line:Monitoring Ports Disabled.", "text:Disabled." }));
        QCOMPARE(captions.last(), QVariantList { QStringLiteral("Start") });
        QVERIFY(!rig.state.isActive() && !Loopback::isListening(ports[0].toInt())
            && !Loopback::isListening(ports[1].toInt()));

        // The elements made by the first start serve the second.
        rig.out.log.clear();
        rig.monitoring.toggleMonitoring();
        QCOMPARE(
            rig.out.lines(), QStringList({ "Monitoring Port: " + ports[0], "Monitoring Port: " + ports[1] }));
        QCOMPARE(rig.monitoring.wsPortsCount(), 2);
        QCOMPARE(&rig.monitoring.wsPorts(1), second);
    }

    void failingAndInvalidPortsAreReportedOnlyWhenSwitchingOn()
    {
        const std::vector<int> free = Loopback::freePorts(3);
        const QString port = QString::number(free[0]);
        const QString held = QString::number(free[1]);
        const int holder = Loopback::holdPort(free[1]);
        MonitorRig rig({ port, port, held, "abc", "", "0", "-5", "70000", QString::number(free[2]) });

        rig.monitoring.toggleMonitoring();
        QCOMPARE(rig.out.lines(),
            QStringList({ "Monitoring Port: " + port, "Port: " + port + " is already open",
                "Port: " + held + " is already open", "Port: abc is not a valid port",
                "Port:  is not a valid port", "Port: 0 is not a valid port", "Port: -5 is not a valid port",
                "Port: 70000 is not a valid port", "Monitoring Port: " + QString::number(free[2]) }));
        QCOMPARE(rig.out.log.last(), QStringLiteral("text:Protecting.."));
        QCOMPARE(rig.monitoring.caption(), QStringLiteral("Stop"));

        rig.out.log.clear();
        rig.monitoring.closePortListeners();
        rig.monitoring.openPortListeners();
        QVERIFY(rig.out.log.isEmpty());
        ::close(holder);
    }

    void reopeningAfterTheOptionsListensOnTheEditedListSilently()
    {
        const std::vector<int> free = Loopback::freePorts(4);
        MonitorRig rig(texts({ free[0], free[1], free[2] }));
        switchOn(rig);

        rig.monitoring.closePortListeners();
        for (const int port : free)
            QVERIFY(!Loopback::isListening(port));
        QVERIFY(rig.state.isActive());

        rig.configure({ QString::number(free[0]), "abc", QString::number(free[3]) }, false, false);
        rig.monitoring.openPortListeners();
        QVERIFY(rig.out.log.isEmpty());
        QVERIFY(Loopback::isListening(free[0]) && Loopback::isListening(free[3]));
        QVERIFY(!Loopback::isListening(free[1]) && !Loopback::isListening(free[2]));
    }

    void aPrivilegedPortNeedsAdministratorRights()
    {
        QFile start(QStringLiteral("/proc/sys/net/ipv4/ip_unprivileged_port_start"));
        const int firstFree = start.open(QIODevice::ReadOnly) ? start.readAll().trimmed().toInt() : 1024;
        if (firstFree <= 1)
            QSKIP("every port may be bound without privileges on this system");
        int port = firstFree - 1;
        while (port > 1 && Loopback::isListening(port))
            --port;
        const QStringList expected { "Port: " + QString::number(port) + " needs administrator rights" };

        if (::geteuid() != 0) {
            MonitorRig rig({ QString::number(port) });
            rig.monitoring.toggleMonitoring();
            if (rig.out.lines().value(0).startsWith(QLatin1String("Monitoring Port")))
                QSKIP("this process may bind privileged ports without being root");
            QCOMPARE(rig.out.lines(), expected);
            return;
        }
        // Root may bind anything: the user without the rights is a child that gave them up.
        const passwd* nobody = ::getpwnam("nobody");
        const uid_t uid = nobody ? nobody->pw_uid : 65534;
        const gid_t gid = nobody ? nobody->pw_gid : 65534;
        const pid_t child = ::fork();
        if (child == 0) {
            if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
                ::_exit(2);
            MonitorRig rig({ QString::number(port) });
            rig.monitoring.toggleMonitoring();
            ::_exit(rig.out.lines() == expected ? 0 : 1);
        }
        int status = -1;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0);
    }

    void oneConnectionIsOneReport_data()
    {
        QTest::addColumn<bool>("ipv6");
        QTest::addColumn<QString>("address");
        QTest::newRow("IPv4, arrives as ::ffff:127.0.0.1") << false << QStringLiteral("127.0.0.1");
        QTest::newRow("IPv6") << true << QStringLiteral("::1");
    }
    void oneConnectionIsOneReport()
    {
        QFETCH(bool, ipv6);
        QFETCH(QString, address);
        const int port = Loopback::freePorts(1)[0];
        MonitorRig rig({ QString::number(port) });
        switchOn(rig);

        const int client = Loopback::connectTo(port, ipv6);
        if (client < 0 && ipv6)
            QSKIP("no IPv6 loopback on this machine");
        QTRY_COMPARE_WITH_TIMEOUT(rig.out.alerts.size(), std::size_t(1), 2000);
        QCOMPARE(rig.out.log, intrusionLog(address, port));
        const IntruderRecord& intruder = rig.out.alerts[0];
        QVERIFY(intruder.intruderIP == address && intruder.attackedPort == port
            && intruder.intruderMessage.isEmpty());
        QVERIFY(Loopback::closedByServer(client));
        ::close(client);
    }

    void connectionsInARowGiveOneBlockEachWithItsOwnPort()
    {
        const std::vector<int> ports = Loopback::freePorts(2);
        MonitorRig rig(texts(ports));
        switchOn(rig);

        for (const int port : { ports[0], ports[0], ports[1] }) {
            const std::size_t before = rig.out.alerts.size();
            const int client = Loopback::connectTo(port);
            QTRY_COMPARE_WITH_TIMEOUT(rig.out.alerts.size(), before + 1, 2000);
            ::close(client);
        }
        QCOMPARE(rig.out.log,
            intrusionLog("127.0.0.1", ports[0]) + intrusionLog("127.0.0.1", ports[0])
                + intrusionLog("127.0.0.1", ports[1]));
        QVERIFY(Loopback::isListening(ports[0]) && Loopback::isListening(ports[1]));
    }

    void aThousandConcurrentConnectionsAreAllRecorded()
    {
        constexpr int Burst = 1000;
        rlimit limit {};
        ::getrlimit(RLIMIT_NOFILE, &limit);
        limit.rlim_cur = std::max<rlim_t>(limit.rlim_cur, std::min<rlim_t>(limit.rlim_max, Burst + 200));
        if (::setrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur < Burst + 200)
            QSKIP("the descriptor limit is too low for the burst");
        const int port = Loopback::freePorts(1)[0];
        MonitorRig rig({ QString::number(port) });
        switchOn(rig);

        // All connect before the event loop runs again: they wait in the queue together.
        std::vector<int> clients;
        for (int i = 0; i < Burst; ++i)
            clients.push_back(Loopback::connectTo(port, false, false));
        QTRY_COMPARE_WITH_TIMEOUT(rig.out.alerts.size(), std::size_t(Burst), 10000);
        QCOMPARE(rig.out.lines().size(), 6 * Burst);
        Loopback::closeAll(clients);

        const int late = Loopback::connectTo(port);
        QTRY_COMPARE_WITH_TIMEOUT(rig.out.alerts.size(), std::size_t(Burst + 1), 2000);
        ::close(late);
    }
};

QTEST_GUILESS_MAIN(TestMonitoringSwitch)
#include "tst_MonitoringSwitch.moc"
