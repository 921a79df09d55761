#include "ConnectionProbe.h"
#include "NetConnectionWatch.h"
#include "OptionsModel.h"
#include "SoundPlayer.h"
#include "StatusReporter.h"

#include <QSignalSpy>
#include <QtTest>

namespace {
using namespace std::chrono_literals;

class FakeProbe final : public ConnectionProbe
{
public:
    bool isRemoteConnectionActive() override
    {
        ++calls;
        return connected;
    }
    bool connected = false;
    int calls = 0;
};

// Sounds and status texts in one record, in the order they happened.
class Record final : public SoundPlayer, public StatusReporter
{
public:
    void play(const QString& fileName) override { log << "play " + fileName; }
    void addStatusLine(const QString& text) override { log << "line " + text; }
    void setStatusText(const QString& text) override { log << "text " + text; }
    QStringList log;
};

struct Rig
{
    explicit Rig(std::chrono::milliseconds interval = NetConnectionWatch::DefaultInterval)
        : watch(probe, record, options, record, interval)
    {
        options.setText(OptionsModel::Text::Sound0, "NetOn.wav");
        options.setText(OptionsModel::Text::Sound1, "NetOff.wav");
    }
    FakeProbe probe;
    Record record;
    OptionsModel options;
    NetConnectionWatch watch;
};
} // namespace

class TestNetConnectionWatch : public QObject
{
    Q_OBJECT

private slots:
    void reportsOnlyChanges_data()
    {
        QTest::addColumn<QString>("steps"); // up/down: one tick with that reading; off: sounds switched off;
                                            // on: re-applied with sounds on; edit: unsaved sound names
        QTest::addColumn<QString>("reports"); // + detected, - disconnected, one per reporting tick

        const auto row = [](const char* name, const char* steps, const char* reports) {
            QTest::newRow(name) << QString(steps) << QString(reports);
        };
        row("first tick up reports once", "up", "+");
        row("down first reports nothing", "down down", "");
        row("down first, then up", "down up", "+");
        row("up for many ticks reports once", "up up up up up", "+");
        row("drop reports once", "up down down down", "+-");
        row("comes and goes", "up down up down", "+-+-");
        row("sounds off forgets the connection", "up off on up", "++");
        row("sounds off while down", "down off on down up", "+");
        row("re-apply keeps the state", "up on up on up", "+");
        row("unsaved sound names play", "edit up down", "+-");
    }

    void reportsOnlyChanges()
    {
        QFETCH(QString, steps);
        QFETCH(QString, reports);

        Rig rig;
        QSignalSpy changes(&rig.watch, &NetConnectionWatch::connectionChanged);
        QString onSound = "NetOn.wav", offSound = "NetOff.wav";
        int ticks = 0;
        for (const QString& step : steps.split(' ')) {
            if (step == "off") {
                rig.watch.setEnabled(false);
                rig.watch.resetNetState();
                QCOMPARE(rig.watch.netState(), std::optional<bool>(false));
            } else if (step == "on") {
                rig.watch.setEnabled(true);
            } else if (step == "edit") {
                onSound = "dir with blank/up.wav";
                offSound = "down.wav";
                rig.options.setText(OptionsModel::Text::Sound0, onSound);
                rig.options.setText(OptionsModel::Text::Sound1, offSound);
            } else {
                rig.probe.connected = step == "up";
                rig.watch.timNetcheckTimer();
                ++ticks;
            }
        }

        QStringList expected;
        for (QChar report : reports)
            expected << (report == '+' ? QStringList { "play " + onSound, "text Net Detected." }
                                       : QStringList { "play " + offSound, "text Net Disconnected." });
        QCOMPARE(rig.record.log, expected);
        QString signalled;
        for (const QList<QVariant>& change : std::as_const(changes))
            signalled += change.at(0).toBool() ? '+' : '-';
        QCOMPARE(signalled, reports);
        // One reading per tick serves both tests.
        QCOMPARE(rig.probe.calls, ticks);
    }

    void timerRunsWhileEnabledAndRestartsAFullInterval()
    {
        {
            Rig rig;
            QVERIFY(!rig.watch.isEnabled());
            QCOMPARE(rig.watch.timer().intervalAsDuration(), 7000ms);
            QCOMPARE(rig.watch.netState(), std::nullopt);
            rig.watch.setEnabled(true);
            QTest::qWait(1000);
            // A re-apply puts the next tick a full interval away again (timers this long may be 5% off).
            QVERIFY(rig.watch.timer().remainingTime() < 6400);
            rig.watch.setEnabled(true);
            QVERIFY(rig.watch.timer().remainingTime() > 6600);
            rig.watch.setEnabled(false);
            QVERIFY(!rig.watch.isEnabled());
        }
        Rig rig(20ms);
        rig.probe.connected = true;
        QSignalSpy changes(&rig.watch, &NetConnectionWatch::connectionChanged);
        rig.watch.setEnabled(true);
        QVERIFY(changes.wait(5000));
        rig.probe.connected = false;
        QVERIFY(changes.wait(5000));
        rig.watch.setEnabled(false);
        const int ticks = rig.probe.calls;
        QTest::qWait(100);
        QCOMPARE(rig.probe.calls, ticks);
        QCOMPARE(rig.record.log.size(), 4);
    }
};

QTEST_GUILESS_MAIN(TestNetConnectionWatch)
#include "tst_NetConnectionWatch.moc"
