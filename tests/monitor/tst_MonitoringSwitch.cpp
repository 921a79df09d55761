#include "AlarmSelfTest.h"
#include "AlarmSettings.h"
#include "MonitorRig.h"
#include "PortBinder.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

#include <optional>

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

// Hands out sockets on free high ports in place of the ports asked for, or the given outcome.
struct FakeBinder final : PortBinder
{
    explicit FakeBinder(Outcome outcome)
        : outcome(outcome)
    {
    }
    std::vector<Result> bindPorts(const std::vector<int>& ports) override
    {
        asked.push_back(ports);
        std::vector<Result> results(ports.size(), Result { outcome, -1 });
        for (Result& result : results)
            if (outcome == Outcome::Bound)
                ::listen(result.fd = Loopback::newClient(), 8);
        return results;
    }
    Outcome outcome;
    std::vector<std::vector<int>> asked;
};

// Runs in a child without the right to bind port 21, with a binder of the given outcome (none when
// -1); 0 when all went as expected, 3 when the system lets a user bind port 21 anyway.
int fallBackAsUser(int binder, const QString& expectedLine)
{
    const int probe = Loopback::newClient();
    sockaddr_in6 at {};
    at.sin6_family = AF_INET6;
    at.sin6_port = htons(21);
    const bool denied
        = ::bind(probe, reinterpret_cast<const sockaddr*>(&at), sizeof at) != 0 && errno == EACCES;
    ::close(probe);
    if (!denied)
        return 3;

    const auto outcome = PortBinder::Outcome(binder);
    std::optional<FakeBinder> fake;
    if (binder >= 0)
        fake.emplace(outcome);
    const QString high = QString::number(Loopback::freePorts(1)[0]);
    MonitorRig rig({ "21", high });
    rig.monitoring.setPrivilegedBinder(fake ? &*fake : nullptr);
    rig.monitoring.toggleMonitoring();
    const QStringList expected { expectedLine, "Monitoring Port: " + high };
    rig.monitoring.closePortListeners();
    rig.monitoring.openPortListeners();
    const std::vector<std::vector<int>> asked(2, std::vector<int> { 21 });
    bool ok = rig.out.lines() == expected && (!fake || fake->asked == asked);

    // An adopted socket is a listener like any other: its intruders are reported.
    const ListeningSocket& adopted = rig.monitoring.wsPorts(0);
    if (ok && fake && outcome == PortBinder::Outcome::Bound) {
        rig.out.log.clear();
        const int client = Loopback::connectTo(adopted.localPort());
        ok = QTest::qWaitFor(
            [&] { return rig.out.log == intrusionLog("127.0.0.1", adopted.localPort()); }, 2000);
        ::close(client);
    } else {
        ok = ok && adopted.state() == ListeningSocket::State::Closed;
    }
    if (!ok)
        qWarning() << rig.out.log;
    return ok ? 0 : 1;
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
        QStringList events;
        for (const Event& e : rig.out.events)
            events << QStringList { Event::kindName(e.kind), e.entry, QString::number(e.port),
                Event::reasonName(e.reason) }
                          .join('|');
        QCOMPARE(events,
            QStringList({ "port_unguarded|" + port + '|' + port + "|in_use",
                "port_unguarded|" + held + '|' + held + "|in_use", "port_unguarded|abc|0|invalid_port",
                "port_unguarded||0|invalid_port", "port_unguarded|0|0|invalid_port",
                "port_unguarded|-5|0|invalid_port", "port_unguarded|70000|0|invalid_port",
                "monitoring_started||0|" }));
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

    // As a user without the right to bind port 21: the listener asks the privileged binder, once
    // for all such ports, and reports what came of it; the re-open after the options asks again
    // and says nothing.
    void portsBelow1024FallBackOnThePrivilegedBinder_data()
    {
        using O = PortBinder::Outcome;
        QTest::addColumn<int>("binder"); // an outcome, or -1: none
        QTest::addColumn<QString>("line");
        const QString denied = "Port: 21 needs administrator rights";
        QTest::newRow("it binds the port") << int(O::Bound) << "Monitoring Port: 21";
        QTest::newRow("it finds the port in use") << int(O::InUse) << "Port: 21 is already open";
        QTest::newRow("it may not bind it either") << int(O::NotPermitted) << denied;
        QTest::newRow("the binder fails") << int(O::Failed) << denied;
        QTest::newRow("no binder") << -1 << denied;
    }
    void portsBelow1024FallBackOnThePrivilegedBinder()
    {
        QFETCH(int, binder);
        QFETCH(QString, line);
        // Root may bind anything: the user without the rights is a child that gave them up.
        const pid_t child = ::fork();
        if (child == 0) {
            if (::geteuid() == 0
                && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
                ::_exit(2);
            ::_exit(fallBackAsUser(binder, line));
        }
        int status = -1;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));
        if (WEXITSTATUS(status) == 3)
            QSKIP("a user may bind port 21 on this system");
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
            sockaddr_storage local {};
            socklen_t size = sizeof local;
            QCOMPARE(::getsockname(client, reinterpret_cast<sockaddr*>(&local), &size), 0);
            const Event& event = rig.out.events.back();
            QVERIFY(event.kind == Event::Kind::Intrusion && !event.sentinel);
            QCOMPARE(event.address, address);
            QCOMPARE(event.port, port);
            QCOMPARE(event.sourcePort, int(ntohs(reinterpret_cast<sockaddr_in*>(&local)->sin_port)));
            QVERIFY(Loopback::closedByServer(client));
            ::close(client);
        }
        QVERIFY(Loopback::isListening(ports[0]) && Loopback::isListening(ports[1]));
    }

    void testAlarmMakesOneIntrusionOnTheFirstArmedPort_data()
    {
        QTest::addColumn<bool>("monitoring");
        QTest::addColumn<QString>("allow");
        QTest::addColumn<QString>("status"); // %1: the first armed port
        QTest::newRow("armed") << true << ""
                               << "Test Alarm: the intrusion on port %1 was recorded";
        QTest::newRow("loopback allowed: the test still counts")
            << true << "127.0.0.1 ::1"
            << "Test Alarm: the intrusion on port %1 was recorded";
        QTest::newRow("not monitoring") << false << ""
                                        << "Test Alarm: no port is being monitored";
    }
    void testAlarmMakesOneIntrusionOnTheFirstArmedPort()
    {
        QFETCH(bool, monitoring);
        QFETCH(QString, allow);
        QFETCH(QString, status);
        const std::vector<int> ports = Loopback::freePorts(2);
        MonitorRig rig({ "0", QString::number(ports[0]), QString::number(ports[1]) });
        AlarmSettings alarm;
        alarm.allow = allow;
        rig.monitoring.intrusions().configure(alarm);
        if (monitoring)
            rig.monitoring.toggleMonitoring();
        rig.out.log.clear();
        AlarmSelfTest selfTest(rig.monitoring, rig.out);
        QSignalSpy finished(&selfTest, &AlarmSelfTest::finished);
        selfTest.run();
        QVERIFY(finished.count() == 1 || finished.wait(AlarmSelfTest::TimeoutMs + 1000));
        QCOMPARE(rig.out.log.last(), "text:" + status.arg(ports[0]));
        QCOMPARE(rig.out.log.filter("alert:").size(), monitoring ? 1 : 0);

        // Spent: the next loopback connection meets the allow list again, and is closed without a
        // word: no status text, no line, no alert.
        if (monitoring && !allow.isEmpty()) {
            rig.out.log.clear();
            const int client = Loopback::connectTo(ports[1]);
            QTRY_COMPARE_WITH_TIMEOUT(rig.monitoring.intrusions().allowedCount(), quint64(1), 2000);
            QVERIFY(Loopback::closedByServer(client));
            ::close(client);
            QCOMPARE(rig.out.log, QStringList {});
            QCOMPARE(rig.out.events.back().kind, Event::Kind::Allowed);
        }
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
