#include "MonitorRig.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>

namespace {
using namespace std::chrono_literals;

// Moves every period to the next of the given ports, then stays with the last.
SentinelSchedule movingThrough(const std::vector<int>& ports, std::chrono::milliseconds interval = 100ms)
{
    return { interval,
        [ports, next = std::size_t(0)]() mutable { return ports[std::min(next++, ports.size() - 1)]; } };
}
} // namespace

class TestMonitoringSwitch : public QObject
{
    Q_OBJECT

private slots:
    void switchingOnOffAndOnAgain_data()
    {
        QTest::addColumn<bool>("soundsOn");
        QTest::newRow("sounds on") << true;
        QTest::newRow("sounds off") << false;
    }
    void switchingOnOffAndOnAgain()
    {
        QFETCH(bool, soundsOn);
        const std::vector<int> ports = Loopback::freePorts(2);
        const QString a = QString::number(ports[0]), b = QString::number(ports[1]);
        MonitorRig rig({ a, b }, {}, false, soundsOn);
        QSignalSpy captions(&rig.monitoring, &MonitoringSwitch::captionChanged);

        const QStringList switchedOn = (soundsOn ? QStringList { "sound:Start.wav" } : QStringList())
            + QStringList { "line:Monitoring Port: " + a, "line:Monitoring Port: " + b, "text:Protecting.." };
        rig.monitoring.toggleMonitoring();
        QCOMPARE(rig.out.log, switchedOn);
        QCOMPARE(captions, QList<QVariantList>({ { QStringLiteral("Stop") } }));
        QVERIFY(rig.state.isActive() && Loopback::isListening(ports[0]) && Loopback::isListening(ports[1]));
        const ListeningSocket* second = &rig.monitoring.wsPorts(1);

        rig.out.log.clear();
        rig.monitoring.toggleMonitoring();
        QCOMPARE(rig.out.log, QStringList({ "line:Monitoring Ports Disabled.", "text:Disabled." }));
        QCOMPARE(captions.last(), QVariantList { QStringLiteral("Start") });
        QVERIFY(
            !rig.state.isActive() && !Loopback::isListening(ports[0]) && !Loopback::isListening(ports[1]));

        // The elements made by the first start serve the second.
        rig.out.log.clear();
        rig.monitoring.toggleMonitoring();
        QCOMPARE(rig.out.log, switchedOn);
        QVERIFY(rig.monitoring.wsPortsCount() == 2 && &rig.monitoring.wsPorts(1) == second);
    }

    // Failures are reported on switching on only. After the options no element keeps a port its entry
    // no longer names, and the sentinel, which kept moving meanwhile, stops if RPS is now off.
    void failingPortsAndTheOptionsCycle()
    {
        const std::vector<int> free = Loopback::freePorts(5);
        const QString port = QString::number(free[0]), held = QString::number(free[1]);
        QTcpServer holder; // IPv4 only, as another program may hold it
        QVERIFY(holder.listen(QHostAddress::AnyIPv4, quint16(free[1])));
        MonitorRig rig({ port, port, held, "abc", "", "0", "-5", "70000", QString::number(free[2]) },
            movingThrough({ free[4] }), true);

        rig.monitoring.toggleMonitoring();
        QCOMPARE(rig.out.lines(),
            QStringList({ "Monitoring Port: " + port, "Port: " + port + " is already open",
                "Port: " + held + " is already open", "Port: abc is not a valid port",
                "Port:  is not a valid port", "Port: 0 is not a valid port", "Port: -5 is not a valid port",
                "Port: 70000 is not a valid port", "Monitoring Port: " + QString::number(free[2]) }));
        QCOMPARE(rig.out.log.last(), QStringLiteral("text:Protecting.."));
        QTRY_VERIFY_WITH_TIMEOUT(Loopback::isListening(free[4]), 2000);

        rig.out.log.clear();
        rig.monitoring.closePortListeners();
        QTest::qWait(200);
        QVERIFY(rig.state.isActive() && !Loopback::isListening(free[0]) && !Loopback::isListening(free[2])
            && rig.monitoring.sentinel().isLoaded() && Loopback::isListening(free[4]));
        rig.configure({ "abc", QString::number(free[3]), QString::number(free[3]), held });
        rig.monitoring.unloadSentinel();
        rig.monitoring.openPortListeners();
        QVERIFY(rig.out.log.isEmpty() && !rig.monitoring.sentinel().isLoaded());
        QVERIFY(Loopback::isListening(free[3]) && !Loopback::isListening(free[0])
            && !Loopback::isListening(free[2]) && !Loopback::isListening(free[4]));
    }

    void aPrivilegedPortNeedsAdministratorRights()
    {
        int port = 1023; // below the first port a user may bind, unless the system lowered it
        while (port > 1 && Loopback::isListening(port))
            --port;
        const QString expected = "Port: " + QString::number(port) + " needs administrator rights";
        // Root may bind anything: the user without the rights is a child that gave them up.
        const pid_t child = ::fork();
        if (child == 0) {
            if (::geteuid() == 0
                && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
                ::_exit(2);
            MonitorRig rig({ QString::number(port) });
            rig.monitoring.toggleMonitoring();
            const QStringList lines = rig.out.lines();
            ::_exit(
                lines.value(0).startsWith("Monitoring Port") ? 3 : int(lines != QStringList { expected }));
        }
        int status = -1;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));
        if (WEXITSTATUS(status) == 3)
            QSKIP("a user may bind that port on this system");
        QCOMPARE(WEXITSTATUS(status), 0);
    }

    void connectionsAreReportedOneBlockEach_data()
    {
        QTest::addColumn<bool>("ipv6");
        QTest::addColumn<bool>("sendsFirst");
        QTest::newRow("IPv4, arrives as ::ffff:127.0.0.1") << false << false;
        QTest::newRow("IPv6") << true << false;
        QTest::newRow("client sends first, dropped unread") << false << true;
    }
    void connectionsAreReportedOneBlockEach()
    {
        QFETCH(bool, ipv6);
        QFETCH(bool, sendsFirst);
        const QString address = ipv6 ? "::1" : "127.0.0.1";
        const std::vector<int> ports = Loopback::freePorts(2);
        MonitorRig rig({ QString::number(ports[0]), QString::number(ports[1]) });
        rig.monitoring.toggleMonitoring();
        rig.out.log.clear();

        QStringList expected;
        for (const int port : { ports[0], ports[0], ports[1] }) {
            const int client = Loopback::connectTo(port, ipv6);
            if (client < 0 && ipv6)
                QSKIP("no IPv6 loopback on this machine");
            if (sendsFirst)
                QCOMPARE(::send(client, "USER root\r\n", 11, MSG_NOSIGNAL), 11);
            expected += intrusionLog(address, port);
            QTRY_COMPARE_WITH_TIMEOUT(rig.out.log, expected, 2000);
            QVERIFY(Loopback::closedByServer(client));
            ::close(client);
        }
        QVERIFY(Loopback::isListening(ports[0]) && Loopback::isListening(ports[1]));
    }

    void aThousandConcurrentConnectionsAreAllRecorded()
    {
        constexpr int Burst = 1000;
        rlimit limit {};
        ::getrlimit(RLIMIT_NOFILE, &limit);
        limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 4096);
        if (::setrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur < Burst + 200)
            QSKIP("the descriptor limit is too low for the burst");
        const int port = Loopback::freePorts(1)[0];
        MonitorRig rig({ QString::number(port) });
        rig.monitoring.toggleMonitoring();
        rig.out.log.clear();

        // All connect before the event loop runs again: they wait in the queue together.
        Loopback::Clients clients(Burst);
        for (int& fd : clients)
            Loopback::startConnect(fd = Loopback::newClient(), port);
        QStringList expected;
        for (int i = 0; i <= Burst; ++i)
            expected += intrusionLog("127.0.0.1", port);
        QTRY_COMPARE_WITH_TIMEOUT(rig.out.log, expected.mid(0, 8 * Burst), 10000);

        clients.push_back(Loopback::connectTo(port));
        QTRY_COMPARE_WITH_TIMEOUT(rig.out.log, expected, 2000);
    }

    void theSentinelMovesSilentlyOncePerTickAndTakesIntrudersUntilSwitchedOff()
    {
        const std::vector<int> free = Loopback::freePorts(3);
        // The first draw is the port the fixed listener holds.
        MonitorRig rig(
            { QString::number(free[0]) }, movingThrough({ free[0], free[1], free[2] }, 500ms), true);
        const ListeningSocket& wsRps = rig.monitoring.sentinel().wsRps();
        QTest::qWait(100);
        QVERIFY(!rig.monitoring.sentinel().isLoaded()); // RPS on, monitoring off

        rig.monitoring.toggleMonitoring();
        const QStringList switchedOn = rig.out.log;
        QTest::qWait(100);
        QVERIFY(rig.monitoring.sentinel().isLoaded() && wsRps.state() == ListeningSocket::State::Closed);
        QTRY_COMPARE_WITH_TIMEOUT(wsRps.localPort(), free[0], 2000);
        QCOMPARE(wsRps.state(), ListeningSocket::State::Closed);
        QTRY_VERIFY_WITH_TIMEOUT(Loopback::isListening(free[1]), 2000);
        QVERIFY(!Loopback::isListening(free[2]));
        QTRY_VERIFY_WITH_TIMEOUT(Loopback::isListening(free[2]), 2000);
        QVERIFY(!Loopback::isListening(free[1]));

        const int client = Loopback::connectTo(free[2]);
        QTRY_COMPARE_WITH_TIMEOUT(rig.out.log, switchedOn + intrusionLog("127.0.0.1", free[2]), 2000);
        ::close(client);

        rig.monitoring.toggleMonitoring();
        QVERIFY(!rig.monitoring.sentinel().isLoaded() && !Loopback::isListening(free[2]));
        QTest::qWait(600);
        QCOMPARE(wsRps.state(), ListeningSocket::State::Closed);
    }

    void theSentinelDrawCoversEveryRealPortAndNothingElse()
    {
        std::vector<int> draws(20000);
        std::generate(draws.begin(), draws.end(), &RandomPortSentinel::drawPortFromClock);
        const auto [lowest, highest] = std::minmax_element(draws.begin(), draws.end());
        QVERIFY(*lowest >= 1 && *lowest <= 200 && *highest <= 65535 && *highest >= 65335);
    }
};

QTEST_GUILESS_MAIN(TestMonitoringSwitch)
#include "tst_MonitoringSwitch.moc"
