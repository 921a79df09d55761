#include "Loopback.h"
#include "MonitorRig.h"

#include <QTest>

#include <deque>
#include <memory>

namespace {
using namespace std::chrono_literals;

// A sentinel schedule that moves every period to the next of the given ports.
SentinelSchedule scheduleOf(const std::vector<int>& ports, std::chrono::milliseconds interval = 100ms)
{
    auto queue = std::make_shared<std::deque<int>>(ports.begin(), ports.end());
    return { interval, [queue] {
                const int port = queue->front();
                if (queue->size() > 1)
                    queue->pop_front();
                return port;
            } };
}

bool sentinelListensOn(const MonitorRig& rig, int port)
{
    const ListeningSocket& socket = rig.monitoring.sentinel().wsRps();
    return socket.localPort() == port && socket.state() == ListeningSocket::State::Listening;
}
} // namespace

class TestRandomPortSentinel : public QObject
{
    Q_OBJECT

private slots:
    void runsOnlyWhileMonitoringIsOnWithRpsEnabled()
    {
        const std::vector<int> free = Loopback::freePorts(2);
        MonitorRig rig({ QString::number(free[0]) }, scheduleOf({ free[1] }));
        rig.configure(rig.options.ports(), false, true);
        QTest::qWait(250);
        QVERIFY(!rig.monitoring.sentinel().isLoaded());
        QVERIFY(!Loopback::isListening(free[1]));

        rig.configure(rig.options.ports(), false, false);
        rig.monitoring.toggleMonitoring();
        QVERIFY(!rig.monitoring.sentinel().isLoaded());
    }

    void listensOnOneDrawnPortPerTickAndNotBeforeTheFirst()
    {
        const std::vector<int> free = Loopback::freePorts(3);
        MonitorRig rig({ QString::number(free[0]) }, scheduleOf({ free[1], free[2] }, 400ms));
        rig.configure(rig.options.ports(), false, true);
        rig.monitoring.toggleMonitoring();
        QVERIFY(rig.monitoring.sentinel().isLoaded());
        const QStringList switchedOn = rig.status.log;

        QTest::qWait(100);
        QCOMPARE(rig.monitoring.sentinel().wsRps().state(), ListeningSocket::State::Closed);
        QVERIFY(!Loopback::isListening(free[1]));

        QTRY_VERIFY_WITH_TIMEOUT(sentinelListensOn(rig, free[1]), 2000);
        QVERIFY(Loopback::isListening(free[1]));
        QVERIFY(!Loopback::isListening(free[2]));

        QTRY_VERIFY_WITH_TIMEOUT(sentinelListensOn(rig, free[2]), 2000);
        QVERIFY(!Loopback::isListening(free[1]));
        QVERIFY(Loopback::isListening(free[2]));
        QVERIFY(Loopback::isListening(free[0]));
        QCOMPARE(rig.status.log, switchedOn); // moving is silent
    }

    void aConnectionToTheSentinelIsAnIntrusionOnTheRandomPort()
    {
        const std::vector<int> free = Loopback::freePorts(2);
        MonitorRig rig({ QString::number(free[0]) }, scheduleOf({ free[1] }));
        rig.configure(rig.options.ports(), false, true);
        rig.monitoring.toggleMonitoring();
        QTRY_VERIFY_WITH_TIMEOUT(sentinelListensOn(rig, free[1]), 2000);
        rig.status.clear();

        const int client = Loopback::connectTo(free[1]);
        QVERIFY(client >= 0);
        QTRY_COMPARE_WITH_TIMEOUT(rig.alert.alerts.size(), std::size_t(1), 2000);
        QCOMPARE(rig.status.log, intrusionLog(QStringLiteral("127.0.0.1"), free[1]));
        QCOMPARE(rig.alert.alerts[0].attackedPort, free[1]);
        ::close(client);
    }

    void aDrawnPortThatIsTakenLeavesItClosedUntilTheNextTick()
    {
        const std::vector<int> free = Loopback::freePorts(2);
        MonitorRig rig({ QString::number(free[0]) }, scheduleOf({ free[0], free[1] }, 200ms));
        rig.configure(rig.options.ports(), false, true);
        rig.monitoring.toggleMonitoring();
        const QStringList switchedOn = rig.status.log;

        QTRY_COMPARE_WITH_TIMEOUT(rig.monitoring.sentinel().wsRps().localPort(), free[0], 2000);
        QCOMPARE(rig.monitoring.sentinel().wsRps().state(), ListeningSocket::State::Closed);
        QTRY_VERIFY_WITH_TIMEOUT(sentinelListensOn(rig, free[1]), 2000);
        QCOMPARE(rig.status.log, switchedOn);
    }

    void switchingOffStopsIt()
    {
        const std::vector<int> free = Loopback::freePorts(2);
        MonitorRig rig({ QString::number(free[0]) }, scheduleOf({ free[1] }));
        rig.configure(rig.options.ports(), false, true);
        rig.monitoring.toggleMonitoring();
        QTRY_VERIFY_WITH_TIMEOUT(sentinelListensOn(rig, free[1]), 2000);

        rig.monitoring.toggleMonitoring();
        QVERIFY(!rig.monitoring.sentinel().isLoaded());
        QVERIFY(!Loopback::isListening(free[1]));
        QTest::qWait(250);
        QCOMPARE(rig.monitoring.sentinel().wsRps().state(), ListeningSocket::State::Closed);
    }

    void theOptionsCycleKeepsItMovingAndStopsOrStartsItOnClose()
    {
        const std::vector<int> free = Loopback::freePorts(2);
        MonitorRig rig({ QString::number(free[0]) }, scheduleOf({ free[1] }));
        rig.configure(rig.options.ports(), false, true);
        rig.monitoring.toggleMonitoring();
        QTRY_VERIFY_WITH_TIMEOUT(sentinelListensOn(rig, free[1]), 2000);

        // Opening the options closes only the fixed listeners.
        rig.monitoring.closePortListeners();
        QVERIFY(rig.monitoring.sentinel().isLoaded());
        QVERIFY(Loopback::isListening(free[1]));

        // Closed with RPS off: settings re-applied, then the fixed listeners come back.
        rig.configure(rig.options.ports(), false, false);
        rig.monitoring.unloadSentinel();
        rig.monitoring.openPortListeners();
        QVERIFY(!rig.monitoring.sentinel().isLoaded());
        QVERIFY(!Loopback::isListening(free[1]));
        QVERIFY(Loopback::isListening(free[0]));

        // Closed with RPS on: it starts again, first port one period later.
        rig.monitoring.closePortListeners();
        rig.configure(rig.options.ports(), false, true);
        rig.monitoring.openPortListeners();
        rig.monitoring.loadSentinel();
        QCOMPARE(rig.monitoring.sentinel().wsRps().state(), ListeningSocket::State::Closed);
        QTRY_VERIFY_WITH_TIMEOUT(sentinelListensOn(rig, free[1]), 2000);
    }

    void theDrawCoversEveryRealPortAndNothingElse()
    {
        int lowest = 65536;
        int highest = 0;
        for (int i = 0; i < 20000; ++i) {
            const int port = RandomPortSentinel::drawPortFromClock();
            lowest = std::min(lowest, port);
            highest = std::max(highest, port);
        }
        QVERIFY(lowest >= 1);
        QVERIFY(highest <= 65535);
        QVERIFY(lowest <= 200);
        QVERIFY(highest >= 65335);
    }
};

QTEST_GUILESS_MAIN(TestRandomPortSentinel)
#include "tst_RandomPortSentinel.moc"
