#include "AlarmSettings.h"
#include "AlertActions.h"
#include "ChatCommandSender.h"
#include "Clipboard.h"
#include "Event.h"
#include "EventSink.h"
#include "IconFlasher.h"
#include "IniSettingsStore.h"
#include "IntruderRecord.h"
#include "IntrusionHandler.h"
#include "OptionsModel.h"
#include "ProgramLauncher.h"
#include "SettingsManager.h"
#include "SoundPlayer.h"
#include "StatusReporter.h"
#include "WallpaperChanger.h"

#include <QtTest>

using namespace std::chrono_literals;

// Stands in for every desktop service and records each request, in order, as one line; keeps the
// events and counts the status lines.
class Recorder final : public IconFlasher,
                       public WallpaperChanger,
                       public ProgramLauncher,
                       public Clipboard,
                       public SoundPlayer,
                       public ChatCommandSender,
                       public StatusReporter,
                       public EventSink
{
public:
    void startFlashing() override { calls << "flash"; }
    void changeWallpaper(const QString& path) override { calls << "wallpaper " + path; }
    bool start(const QString& commandLine, const Environment& = {}) override
    {
        return calls << "start " + commandLine, true;
    }
    void copyToClipboard(const QString& text) override { calls << "clipboard " + text; }
    void play(const QString& fileName) override { calls << "sound " + fileName; }
    void sendCommand(const QString& service, const QString& text) override
    {
        calls << "chat " + service + '|' + text;
    }
    void addStatusLine(const QString& text) override
    {
        lines += !text.isEmpty();
        lastLine = text;
    }
    void setStatusText(const QString&) override { }
    void record(const Event& event) override { events.push_back(event); }

    // The requests by kind ("flash", "start", ...), the status lines as "lines".
    QMap<QString, int> asked() const
    {
        QMap<QString, int> kinds { { "lines", lines } };
        for (const QString& call : calls)
            ++kinds[call.section(' ', 0, 0)];
        return kinds;
    }

    QStringList calls;
    int lines = 0;
    QString lastLine;
    std::vector<Event> events;
};

// The alert with its settings in a fresh program folder and a clock the test moves.
struct Alarm
{
    QTemporaryDir dir;
    IniSettingsStore store = IniSettingsStore::atPath(dir.filePath("Sentrel.ini"));
    OptionsModel options;
    SettingsManager settings { store, options };
    Recorder recorder;
    std::chrono::milliseconds now {};
    AlertActions actions { settings, options,
        { &recorder, &recorder, &recorder, &recorder, &recorder, &recorder }, [this] { return now; } };

    // "Section/Key=value;...", saved and loaded as the program would.
    void set(const QString& values)
    {
        for (const QString& s : values.split(';', Qt::SkipEmptyParts))
            store.write(s.section('/', 0, 0), s.section('/', 1).section('=', 0, 0), s.section('=', 1));
        settings.loadSettings();
        settings.setAppPath(dir.path() + '/');
    }
    QByteArray log()
    {
        actions.intruderLog().flush();
        QFile file(dir.filePath("Log.txt"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
};

// An intrusion handler in front of the alert, every action on.
struct Rig : Alarm
{
    explicit Rig(bool oneAlarmPerScan, int gapSeconds = 60)
    {
        now = 100s;
        settings.firstStartup();
        set("Display/Flash Icon=1;Display/Use IconTray=1;Display/Change Background=1;Display/Attack Run=1;"
            "Display/Copy Clipboard=1;Advance/DDE On=1");
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
        for (const Event& e : recorder.events) {
            if (e.kind == Event::Kind::IncidentEnded)
                out << QString("%1 %2 %3 %4").arg(e.incident).arg(e.address, e.ports).arg(e.count);
        }
        return out;
    }

    IntrusionHandler handler { recorder, actions, recorder, [this] { return now; } };
};

QStringList twelvePorts(const QString& address)
{
    QStringList hits;
    for (int port : { 21, 23, 25, 53, 70, 79, 80, 137, 138, 139, 12345, 12346 })
        hits << address + ':' + QString::number(port);
    return hits;
}

// What an intrusion sets off: each action under its own setting, the slow ones at most once a
// second, and once per incident when asked. Runs under LC_ALL=C.UTF-8 and TZ=UTC, so the
// locale's date and time forms in the log are known.
class TestAlertActions : public QObject
{
    Q_OBJECT

    std::unique_ptr<Alarm> m_alarm;
    const IntruderRecord m_intruder { "10.0.0.5", 23, {} };

private slots:
    void init()
    {
        m_alarm = std::make_unique<Alarm>();
        m_alarm->settings.firstStartup();
        m_alarm->set("Display/Flash Icon=0;Display/Use IconTray=0;Display/Copy Clipboard=0;Sounds/On=False;"
                     "General/Logs=False;Display/Attack Run File=xterm -e top");
    }

    void eachStepFollowsItsOwnCondition_data()
    {
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QStringList>("expected"); // "log": the entry was written
        QTest::newRow("all off") << "" << QStringList {};
        QTest::newRow("flash without tray") << "Display/Flash Icon=1" << QStringList {};
        QTest::newRow("tray without flash") << "Display/Use IconTray=1" << QStringList {};
        QTest::newRow("flash") << "Display/Flash Icon=1;Display/Use IconTray=1" << QStringList { "flash" };
        QTest::newRow("wallpaper") << "Display/Change Background=1"
                                   << QStringList { "wallpaper %1/SentrelBg.bmp" };
        QTest::newRow("program") << "Display/Attack Run=1" << QStringList { "start xterm -e top" };
        QTest::newRow("clipboard") << "Display/Copy Clipboard=1"
                                   << QStringList { "clipboard Intruder IP: 10.0.0.5 Attacked Port: 23" };
        QTest::newRow("sound") << "Sounds/On=True" << QStringList { "sound Intruder.wav" };
        QTest::newRow("log") << "General/Logs=True" << QStringList { "log" };
        QTest::newRow("chat") << "Advance/DDE On=1" << QStringList { "chat mIRC|/Sentrel 10.0.0.5 23" };
    }
    void eachStepFollowsItsOwnCondition()
    {
        QFETCH(QString, settings);
        QFETCH(QStringList, expected);
        m_alarm->set(settings);
        m_alarm->actions.raiseIntruderAlert(m_intruder);
        if (!m_alarm->log().isEmpty())
            m_alarm->recorder.calls << "log";
        QCOMPARE(m_alarm->recorder.calls, expected.replaceInStrings("%1", m_alarm->dir.path()));
    }

    void everythingOnRunsTheStepsInOrderEvenWhenTheLogFails()
    {
        QVERIFY(QDir(m_alarm->dir.path()).mkdir("Log.txt")); // cannot be opened as a file, not even by root
        m_alarm->set(
            "Display/Flash Icon=1;Display/Use IconTray=1;Display/Change Background=1;Display/Attack Run=1;"
            "Display/Copy Clipboard=1;Sounds/On=True;General/Logs=True;Advance/DDE On=1");
        m_alarm->options.set(&Settings::intruderSound, QString("Siren.wav")); // an edit not yet saved counts
        m_alarm->actions.raiseIntruderAlert(m_intruder);
        m_alarm->options.set(&Settings::chatService, QString("fifo:/tmp/chat"));
        m_alarm->actions.raiseIntruderAlert(
            { "192.168.1.7", 80, {} }); // within the second: no program, sound, wallpaper
        QCOMPARE(m_alarm->recorder.calls,
            QStringList({ "flash", "wallpaper " + m_alarm->dir.path() + "/SentrelBg.bmp",
                "start xterm -e top", "clipboard Intruder IP: 10.0.0.5 Attacked Port: 23", "sound Siren.wav",
                "chat mIRC|/Sentrel 10.0.0.5 23", "flash",
                "clipboard Intruder IP: 192.168.1.7 Attacked Port: 80",
                "chat fifo:/tmp/chat|/Sentrel 192.168.1.7 80" }));

        // Only the entries written while the log was blocked are lost.
        QVERIFY(!m_alarm->actions.intruderLog().flush());
        QVERIFY(QDir(m_alarm->dir.path()).rmdir("Log.txt"));
        m_alarm->actions.raiseIntruderAlert({ "10.0.0.6", 24, {} });
        QCOMPARE(m_alarm->log().count("IP: "), 1);
        QVERIFY(m_alarm->log().contains("\r\nIP: 10.0.0.6\r\nAttacked Port: 24\r\nMessage: \r\n"));
    }

    void floodRunsChildProcessesAtMostOncePerSecond()
    {
        m_alarm->set("Display/Attack Run=1;Sounds/On=True;General/Logs=True;Display/Copy Clipboard=1;"
                     "Display/Change Background=1");
        for (int i = 0; i < 1000; ++i, m_alarm->now += 1ms)
            m_alarm->actions.raiseIntruderAlert(
                { QStringLiteral("10.0.%1.%2").arg(i / 256).arg(i % 256), 23, {} });
        const auto count = [this](const char* kind) { return m_alarm->recorder.calls.filter(kind).size(); };
        for (const char* kind : { "start ", "sound ", "wallpaper " })
            QVERIFY2(count(kind) >= 1 && count(kind) <= 2, kind);
        QCOMPARE(count("clipboard "), 1000);
        QCOMPARE(m_alarm->log().count("Intruder Information - "), 1000);

        // The limit delays, it does not switch off: the next intrusion after a quiet second acts again.
        const qsizetype started = count("start ");
        m_alarm->now += 1s;
        m_alarm->actions.raiseIntruderAlert(m_intruder);
        QCOMPARE(count("start "), started + 1);
    }

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
        QCOMPARE(rig.recorder.lines, 5 * hits.size()); // status lines stay one block per connection
        // Every intrusion names its incident in the event log.
        for (const Event& e : rig.recorder.events)
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

    // One host can send from countless addresses: beyond the cap a new source ends the incident
    // quiet longest early, with its record, and one status line counts them once the flood is over.
    void incidentsBeyondTheCapEndTheQuietestEarly()
    {
        Rig rig(false);
        QStringList hits;
        for (int i = 0; i < IncidentTracker::MaxOpen; ++i)
            hits << QString("2001:db8::%1:23").arg(i, 0, 16);
        // The first, seen again, is no longer the quietest.
        hits += { hits.first(), "192.0.2.1:23", "192.0.2.2:23" };
        rig.scan(hits, 1ms);
        QCOMPARE(rig.ended(), QStringList({ "2 2001:db8::1 23 1", "3 2001:db8::2 23 1" }));
        QCOMPARE(rig.handler.incidents().openCount(), IncidentTracker::MaxOpen);
        const int lines = rig.recorder.lines;
        rig.now += 61s;
        rig.handler.expireIncidents();
        rig.handler.expireIncidents();
        QCOMPARE(rig.ended().size(), IncidentTracker::MaxOpen + 2);
        QCOMPARE(rig.recorder.lines, lines + 1);
        QCOMPARE(rig.recorder.lastLine, QString("Incidents: 2 ended early, more than 4096 sources at once"));
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
        QCOMPARE(rig.log().count("Attacked Port: "), 24);
        QMap<QString, int> expected { { "flash", 24 }, { "lines", 24 * 5 } };
        for (const char* kind : { "sound", "wallpaper", "start", "clipboard", "chat" })
            expected[kind] = disruptive;
        QCOMPARE(rig.recorder.asked(), expected);
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
        QCOMPARE(rig.recorder.lines, 5);
        QCOMPARE(rig.recorder.events.size(), std::size_t(3));
        QCOMPARE(rig.recorder.events[0].kind, Event::Kind::Allowed);
        QCOMPARE(rig.recorder.events[1].kind, Event::Kind::Allowed);
        QCOMPARE(rig.recorder.events[2].kind, Event::Kind::Intrusion);

        // The self-test's own connection counts once as an intrusion, then the list holds again.
        rig.handler.exemptOnce("10.1.2.3");
        rig.scan({ "10.1.2.3:21", "10.1.2.3:21" }, 1s);
        QCOMPARE(rig.handler.intrusionCount(), quint64(2));
        QCOMPARE(rig.handler.allowedCount(), quint64(3));
    }
};

QTEST_GUILESS_MAIN(TestAlertActions)
#include "tst_AlertActions.moc"
