#include "AlarmSettings.h"
#include "AlertActions.h"
#include "ChatCommandSender.h"
#include "Clipboard.h"
#include "Event.h"
#include "EventSink.h"
#include "IconFlasher.h"
#include "IniSettingsStore.h"
#include "IntrusionHandler.h"
#include "OptionsModel.h"
#include "SettingsManager.h"
#include "SoundPlayer.h"
#include "StatusReporter.h"
#include "WallpaperChanger.h"

#include <QtTest>

using namespace std::chrono_literals;

// Counts what each desktop service was asked to do, by kind; keeps the events.
struct Desk final : IconFlasher,
                    WallpaperChanger,
                    ProgramLauncher,
                    Clipboard,
                    SoundPlayer,
                    ChatCommandSender,
                    StatusReporter,
                    EventSink
{
    void startFlashing() override { ++asked["flash"]; }
    void changeWallpaper(const QString&) override { ++asked["wallpaper"]; }
    bool start(const QString&, const Environment&) override { return ++asked["program"], true; }
    void copyToClipboard(const QString&) override { ++asked["clipboard"]; }
    void play(const QString&) override { ++asked["sound"]; }
    void sendDdeCommand(const QString&, const QString&) override { ++asked["chat"]; }
    void addStatusLine(const QString& text) override { asked["lines"] += !text.isEmpty(); }
    void setStatusText(const QString&) override { }
    void record(const Event& event) override { events.push_back(event); }

    QMap<QString, int> asked;
    std::vector<Event> events;
};

// One intrusion handler in front of the real alert actions, every action on, a clock the test moves.
struct Rig
{
    explicit Rig(bool oneAlarmPerScan, int gapSeconds = 60)
    {
        settings.firstStartup();
        for (const char* key : { "Display/Flash Icon", "Display/Use IconTray", "Display/Change Background",
                 "Display/Attack Run", "Display/Copy Clipboard", "Advance/DDE On" })
            store.write(QString(key).section('/', 0, 0), QString(key).section('/', 1), "1");
        settings.loadSettings();
        settings.setAppPath(dir.path() + '/');
        AlarmSettings alarm;
        alarm.oneAlarmPerScan = oneAlarmPerScan;
        alarm.scanGapSeconds = gapSeconds;
        handler.configure(alarm);
    }
    // "address:port" connections (the port after the last colon), the clock moved by step before each.
    void scan(const QStringList& hits, std::chrono::milliseconds step)
    {
        for (const QString& hit : hits) {
            now += step;
            const qsizetype colon = hit.lastIndexOf(':');
            handler.handleIntrusion(hit.left(colon), hit.mid(colon + 1).toInt(), 40000);
        }
    }
    QStringList ended() const
    {
        QStringList out;
        for (const Event& e : desk.events) {
            if (e.kind == Event::Kind::IncidentEnded)
                out << QString("%1 %2 %3 %4").arg(e.incident).arg(e.address, e.ports).arg(e.count);
        }
        return out;
    }

    QTemporaryDir dir;
    IniSettingsStore store = IniSettingsStore::atPath(dir.filePath("Sentrel.ini"));
    OptionsModel options;
    SettingsManager settings { store, options };
    Desk desk;
    std::chrono::milliseconds now { 100000 };
    AlertActions actions { settings, options, { &desk, &desk, &desk, &desk, &desk, &desk },
        [this] { return now; } };
    IntrusionHandler handler { desk, actions, desk, [this] { return now; } };
};

QStringList twelvePorts(const QString& address)
{
    QStringList hits;
    for (int port : { 21, 23, 25, 53, 70, 79, 80, 137, 138, 139, 12345, 12346 })
        hits << address + ':' + QString::number(port);
    return hits;
}

class TestIncidents : public QObject
{
    Q_OBJECT

private slots:
    void connectionsGroupIntoIncidents_data()
    {
        QTest::addColumn<QStringList>("hits");
        QTest::addColumn<int>("stepMs");
        QTest::addColumn<QStringList>("ended"); // "id address ports count", after monitoring stops
        QTest::newRow("12-port scan") << twelvePorts(
            "10.0.0.5") << 5 << QStringList { "1 10.0.0.5 21,23,25,53,70,79,80,137,138,139,12345,12346 12" };
        QTest::newRow("two sources interleaved")
            << QStringList { "10.0.0.5:21", "10.0.0.6:21", "10.0.0.5:23", "10.0.0.6:80", "10.0.0.5:21" } << 10
            << QStringList { "1 10.0.0.5 21,23 3", "2 10.0.0.6 21,80 2" };
        QTest::newRow("gap exactly reached: same incident")
            << QStringList { "10.0.0.5:21", "10.0.0.5:23" } << 60000 << QStringList { "1 10.0.0.5 21,23 2" };
        QTest::newRow("gap passed: a new incident") << QStringList { "10.0.0.5:21", "10.0.0.5:23" } << 60001
                                                    << QStringList { "1 10.0.0.5 21 1", "2 10.0.0.5 23 1" };
        QTest::newRow("IPv6 sources") << QStringList { "fd00::1:21", "fd00::2:21" } << 1
                                      << QStringList { "1 fd00::1 21 1", "2 fd00::2 21 1" };
    }
    void connectionsGroupIntoIncidents()
    {
        QFETCH(QStringList, hits);
        QFETCH(int, stepMs);
        QFETCH(QStringList, ended);
        Rig rig(true);
        rig.scan(hits, std::chrono::milliseconds(stepMs));
        rig.handler.endIncidents();
        QCOMPARE(rig.ended(), ended);
        QCOMPARE(rig.desk.asked["lines"], 5 * hits.size()); // status lines stay one block per connection
        // Every intrusion names its incident in the event log.
        for (const Event& e : rig.desk.events)
            QVERIFY(e.incident > 0);
    }

    void quietSourceEndsItsIncidentOnTheTimer()
    {
        Rig rig(false, 30);
        rig.scan({ "10.0.0.5:21", "10.0.0.7:22" }, 1s);
        rig.now += 30s;
        rig.handler.expireIncidents();
        QCOMPARE(rig.ended(), QStringList { "1 10.0.0.5 21 1" }); // the second is 1 s younger
        rig.now += 1s;
        rig.handler.expireIncidents();
        QCOMPARE(rig.handler.incidents().openCount(), 0);
        QCOMPARE(rig.ended().size(), 2);
    }

    void disruptiveActionsRunOncePerIncidentOnlyWhenAsked_data()
    {
        QTest::addColumn<bool>("oneAlarmPerScan");
        QTest::addColumn<int>("disruptive"); // sound, wallpaper, program, clipboard, chat: each
        // Two sources' 12-port scans, two seconds apart: the one-second throttle never bites.
        QTest::newRow("off: as before, one per connection") << false << 24;
        QTest::newRow("on: one per incident") << true << 2;
    }
    void disruptiveActionsRunOncePerIncidentOnlyWhenAsked()
    {
        QFETCH(bool, oneAlarmPerScan);
        QFETCH(int, disruptive);
        Rig rig(oneAlarmPerScan);
        rig.scan(twelvePorts("10.0.0.5") + twelvePorts("192.0.2.1"), 2s);
        rig.actions.intruderLog().flush();
        QFile log(rig.dir.filePath("Log.txt"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QCOMPARE(log.readAll().count("Attacked Port: "), 24);
        QMap<QString, int> expected { { "flash", 24 }, { "lines", 24 * 5 } };
        for (const char* kind : { "sound", "wallpaper", "program", "clipboard", "chat" })
            expected[kind] = disruptive;
        QCOMPARE(rig.desk.asked, expected);
    }

    void allowedSourcesAreCountedAndRecordedOnly()
    {
        Rig rig(false);
        AlarmSettings alarm;
        alarm.allow = "10.0.0.0/8";
        rig.handler.configure(alarm);
        rig.scan({ "10.1.2.3:21", "::ffff:10.1.2.3:23", "192.0.2.1:21" }, 1s);
        QCOMPARE(rig.handler.allowedCount(), quint64(2));
        QCOMPARE(rig.handler.intrusionCount(), quint64(1));
        QCOMPARE(rig.desk.asked["lines"], 5);
        QCOMPARE(rig.desk.events.size(), std::size_t(3));
        QCOMPARE(rig.desk.events[0].kind, Event::Kind::Allowed);
        QCOMPARE(rig.desk.events[1].kind, Event::Kind::Allowed);
        QCOMPARE(rig.desk.events[2].kind, Event::Kind::Intrusion);

        // The self-test's own connection counts once as an intrusion, then the list holds again.
        rig.handler.exemptOnce("10.1.2.3");
        rig.scan({ "10.1.2.3:21", "10.1.2.3:21" }, 1s);
        QCOMPARE(rig.handler.intrusionCount(), quint64(2));
        QCOMPARE(rig.handler.allowedCount(), quint64(3));
    }
};

QTEST_GUILESS_MAIN(TestIncidents)
#include "tst_Incidents.moc"
