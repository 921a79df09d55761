#include "Loopback.h"
#include "MonitorRig.h"

#include <QTest>

#include <deque>
#include <memory>

namespace {
using namespace std::chrono_literals;

// Moves every period to the next of the given ports, then stays with the last.
SentinelSchedule movingThrough(const std::vector<int>& ports, std::chrono::milliseconds interval = 100ms)
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
    void movesSilentlyOncePerTickFromTheFirstTickOnUntilSwitchedOff()
    {
        const std::vector<int> free = Loopback::freePorts(3);
        MonitorRig rig({ QString::number(free[0]) }, movingThrough({ free[1], free[2] }, 400ms));
        rig.configureRps(true);
        QTest::qWait(100);
        QVERIFY(!rig.monitoring.sentinel().isLoaded()); // RPS on, monitoring off

        rig.monitoring.toggleMonitoring();
        const QStringList switchedOn = rig.out.log;
        QTest::qWait(100);
        QVERIFY(rig.monitoring.sentinel().isLoaded() && !Loopback::isListening(free[1]));
        QTRY_VERIFY_WITH_TIMEOUT(sentinelListensOn(rig, free[1]), 2000);
        QVERIFY(Loopback::isListening(free[1]) && !Loopback::isListening(free[2]));
        QTRY_VERIFY_WITH_TIMEOUT(sentinelListensOn(rig, free[2]), 2000);
        QVERIFY(!Loopback::isListening(free[1]) && Loopback::isListening(free[2]));
        QCOMPARE(rig.out.log, switchedOn);

        rig.monitoring.toggleMonitoring();
        QVERIFY(!rig.monitoring.sentinel().isLoaded() && !Loopback::isListening(free[2]));
        QTest::qWait(500);
        QCOMPARE(rig.monitoring.sentinel().wsRps().state(), ListeningSocket::State::Closed);
    }

    void aConnectionToItIsAnIntrusionOnTheRandomPort()
    {
        const std::vector<int> free = Loopback::freePorts(2);
        MonitorRig rig({ QString::number(free[0]) }, movingThrough({ free[1] }));
        rig.configureRps(true);
        rig.monitoring.toggleMonitoring();
        QTRY_VERIFY_WITH_TIMEOUT(sentinelListensOn(rig, free[1]), 2000);
        rig.out.log.clear();

        const int client = Loopback::connectTo(free[1]);
        QTRY_COMPARE_WITH_TIMEOUT(rig.out.alerts.size(), std::size_t(1), 2000);
        QCOMPARE(rig.out.log, intrusionLog(QStringLiteral("127.0.0.1"), free[1]));
        ::close(client);
    }

    void aDrawnPortThatIsTakenLeavesItClosedUntilTheNextTick()
    {
        const std::vector<int> free = Loopback::freePorts(2);
        MonitorRig rig({ QString::number(free[0]) }, movingThrough({ free[0], free[1] }, 200ms));
        rig.configureRps(true);
        rig.monitoring.toggleMonitoring();
        const QStringList switchedOn = rig.out.log;

        QTRY_COMPARE_WITH_TIMEOUT(rig.monitoring.sentinel().wsRps().localPort(), free[0], 2000);
        QCOMPARE(rig.monitoring.sentinel().wsRps().state(), ListeningSocket::State::Closed);
        QTRY_VERIFY_WITH_TIMEOUT(sentinelListensOn(rig, free[1]), 2000);
        QCOMPARE(rig.out.log, switchedOn);
    }

    void theOptionsCycleKeepsItMovingAndStopsOrStartsItOnClose()
    {
        const std::vector<int> free = Loopback::freePorts(2);
        MonitorRig rig({ QString::number(free[0]) }, movingThrough({ free[1] }));
        rig.configureRps(true);
        rig.monitoring.toggleMonitoring();
        QTRY_VERIFY_WITH_TIMEOUT(sentinelListensOn(rig, free[1]), 2000);

        rig.monitoring.closePortListeners(); // the options open
        QVERIFY(rig.monitoring.sentinel().isLoaded() && Loopback::isListening(free[1]));

        // Closed with RPS off: the settings are re-applied, then the fixed listeners come back.
        rig.configureRps(false);
        rig.monitoring.unloadSentinel();
        rig.monitoring.openPortListeners();
        QVERIFY(!rig.monitoring.sentinel().isLoaded() && !Loopback::isListening(free[1]));
        QVERIFY(Loopback::isListening(free[0]));

        // Closed with RPS on: it starts again, its first port one period later.
        rig.monitoring.closePortListeners();
        rig.configureRps(true);
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
        QVERIFY(lowest >= 1 && lowest <= 200);
        QVERIFY(highest <= 65535 && highest >= 65335);
    }
};

QTEST_GUILESS_MAIN(TestRandomPortSentinel)
#include "tst_RandomPortSentinel.moc"
