#include "AlertActions.h"
#include "IntrusionHandler.h"
#include "OptionsModel.h"
#include "Recorder.h"
#include "SettingsManager.h"
#include "TestFiles.h"
#include "TestStore.h"

using namespace std::chrono_literals;

// The alert with its settings ("Section/Key=value;...") in memory, a fresh program folder, an intrusion
// handler in front of it and a clock the test moves.
struct Rig
{
    explicit Rig(
        const QString& values, bool oneAlarmPerScan = false, int gapSeconds = 60, const QString& allow = {})
    {
        settings.firstStartup();
        writeValues(recorder, values);
        settings.loadSettings();
        settings.setAppPath(dir.path() + '/');
        handler.configure({ .oneAlarmPerScan = oneAlarmPerScan,
            .scanGapSeconds = gapSeconds,
            .allow = AllowList::parse(allow) });
        handler.addObserver(&actions);
    }
    QByteArray log()
    {
        actions.intruderLog().flush();
        return fileBytes(dir.filePath("Log.txt"));
    }
    // "address:port" connections, the clock moved by step before each.
    void scan(const QStringList& hits, std::chrono::milliseconds step)
    {
        for (const QString& hit : hits) {
            now += step;
            handler.handleIntrusion(ip(hit.section(':', 0, -2)), hit.section(':', -1).toInt(), 40000);
        }
    }
    QStringList ended() const
    {
        QStringList out;
        for (const Event& e : recorder.events)
            if (e.kind == Event::Kind::IncidentEnded)
                out << QString("%1 %2 %3 %4").arg(e.incident).arg(e.address, e.ports).arg(e.count);
        return out;
    }

    void alert(const IntruderRecord& intruder) { actions.intrusion({ intruder, Event() }); }
    qsizetype count(const QString& kind) const { return recorder.all(kind).size(); }

    QTemporaryDir dir;
    Recorder recorder; // the settings too
    OptionsModel options;
    SettingsManager settings { recorder, options };
    std::chrono::milliseconds now = 100s;
    AlertActions actions { settings, options,
        { &recorder, &recorder, &recorder, &recorder, &recorder, &recorder }, [this] { return now; } };
    IntrusionHandler handler { recorder, recorder, [this] { return now; } };
};

const QString Quiet = "Display/Flash Icon=0;Display/Use IconTray=0;Display/Copy Clipboard=0;Sounds/On=False;"
                      "General/Logs=False;Display/Attack Run File=xterm -e top;";
const QString Loud = "Display/Flash Icon=1;Display/Use IconTray=1;Display/Change Background=1;"
                     "Display/Attack Run=1;Display/Copy Clipboard=1;Advance/DDE On=1;";
const IntruderRecord Intruder { "10.0.0.5", 23, {} };

// What an intrusion sets off: each action under its own setting, the slow ones at most once a second and
// once per incident when asked. Runs under LC_ALL=C.UTF-8 and TZ=UTC for known date forms in the log.
class TestAlertActions : public QObject
{
    Q_OBJECT

private slots:
    // Each step under its own setting, named by it; "log": the entry was written; %1: the program folder.
    void eachStepFollowsItsOwnCondition()
    {
        // clang-format off
        const std::pair<QString, QString> rows[] { { "", "" }, { "Display/Flash Icon=1", "" },
            { "Display/Use IconTray=1", "" }, { "Display/Flash Icon=1;Display/Use IconTray=1", "flash:" },
            { "Display/Change Background=1", "wallpaper:%1/SentrelBg.bmp" },
            { "Display/Attack Run=1", "start:xterm -e top" },
            { "Display/Copy Clipboard=1", "clipboard:Intruder IP: 10.0.0.5 Attacked Port: 23" },
            { "Sounds/On=True", "sound:Intruder.wav" }, { "General/Logs=True", "log" },
            { "Advance/DDE On=1", "chat:mIRC|/Sentrel 10.0.0.5 23" } };
        // clang-format on
        for (const auto& [settings, expected] : rows) {
            Rig rig(Quiet + settings);
            rig.alert(Intruder);
            if (!rig.log().isEmpty())
                rig.recorder.log << "log";
            QCOMPARE(settings + ": " + rig.recorder.log.join("; "),
                settings + ": " + QString(expected).replace("%1", rig.dir.path()));
        }
    }

    // In order, with the dialog's unsaved edits; slow steps wait a second. Then a second's flood: one or
    // two of each slow step, every cheap one.
    void everythingOnRunsTheStepsInOrderAndThrottlesTheSlowOnes()
    {
        Rig rig(Quiet + Loud + "Sounds/On=True;General/Logs=True");
        rig.options.set(&Settings::intruderSound, QString("Siren.wav"));
        rig.alert(Intruder);
        rig.options.set(&Settings::chatService, QString("fifo:/tmp/chat"));
        rig.alert({ "192.168.1.7", 80, {} });
        const QString wallpaper = "wallpaper:" + rig.dir.path() + "/SentrelBg.bmp";
        QCOMPARE(rig.recorder.log,
            QStringList({ "flash:", wallpaper, "start:xterm -e top",
                "clipboard:Intruder IP: 10.0.0.5 Attacked Port: 23", "sound:Siren.wav",
                "chat:mIRC|/Sentrel 10.0.0.5 23",
                "flash:", "clipboard:Intruder IP: 192.168.1.7 Attacked Port: 80",
                "chat:fifo:/tmp/chat|/Sentrel 192.168.1.7 80" }));
        rig.recorder.log.clear();
        rig.now += 1s;
        rig.alert({ "10.0.0.6", 24, {} });
        QCOMPARE(rig.recorder.log,
            QStringList({ "flash:", wallpaper, "start:xterm -e top",
                "clipboard:Intruder IP: 10.0.0.6 Attacked Port: 24", "sound:Siren.wav",
                "chat:fifo:/tmp/chat|/Sentrel 10.0.0.6 24" }));
        QVERIFY(rig.log().endsWith("\r\nIP: 10.0.0.6\r\nAttacked Port: 24\r\nMessage: \r\n"));

        rig.recorder.log.clear();
        rig.now += 1s;
        for (int i = 0; i < 1000; ++i, rig.now += 1ms)
            rig.alert(
                { QStringLiteral("10.0.%1.%2").arg(i / 256).arg(i % 256), 23, {} });
        for (const char* kind : { "start", "sound", "wallpaper" })
            QVERIFY2(rig.count(kind) >= 1 && rig.count(kind) <= 2, kind);
        QCOMPARE(rig.count("clipboard"), 1000);
        QCOMPARE(rig.log().count("Intruder Information - "), 1003);
    }

    // Connections ("address:port" ...) a step apart, the incidents ("id address ports count") that ended,
    // and how many flashes, clipboard copies (as every disruptive step) and log entries they set off.
    void connectionsGroupIntoIncidents()
    {
        const QString ports = "21,23,25,53,70,79,80,137,138,139,12345,12346",
                      scanned = "1 10.0.0.5 " + ports + " 12";
        const QString scan = "10.0.0.5:" + QString(ports).replace(',', " 10.0.0.5:");
        // clang-format off
        const std::tuple<const char*, bool, QString, int, QString> rows[] {
            { "12-port scan", true, scan, 5, scanned + " / 12 1 12" },
            { "12-port scan, an alarm each", false, scan, 5, scanned + " / 12 12 12" },
            { "two sources interleaved", true,
              "10.0.0.5:21 10.0.0.6:21 10.0.0.5:23 10.0.0.6:80 10.0.0.5:21", 10,
              "1 10.0.0.5 21,23 3; 2 10.0.0.6 21,80 2 / 5 2 5" },
            { "gap exactly reached", true, "10.0.0.5:21 10.0.0.5:23", 60000, "1 10.0.0.5 21,23 2 / 2 1 2" },
            { "gap passed", true, "10.0.0.5:21 10.0.0.5:23", 60001,
              "1 10.0.0.5 21 1; 2 10.0.0.5 23 1 / 2 2 2" },
            { "IPv6 sources", true, "fd00::1:21 fd00::2:21", 1, "1 fd00::1 21 1; 2 fd00::2 21 1 / 2 2 2" } };
        // clang-format on
        for (const auto& [name, oneAlarmPerScan, hits, stepMs, expected] : rows) {
            Rig rig(Loud, oneAlarmPerScan); // the log is on from the first start
            rig.scan(hits.split(' '), std::chrono::milliseconds(stepMs));
            rig.handler.endIncidents();
            QCOMPARE(QString("%1: %2 / %3 %4 %5").arg(name, rig.ended().join("; ")).arg(rig.count("flash"))
                         .arg(rig.count("clipboard")).arg(rig.log().count("Attacked Port: ")),
                name + (": " + expected));
            QCOMPARE(rig.recorder.lines().size(), 6 * hits.count(' ') + 6); // one block per connection
            for (const Event& e : rig.recorder.events) // every intrusion names its incident in the event log
                QVERIFY(e.incident > 0);
        }
    }

    // Incidents end on the timer, or beyond the cap the quietest early, counted in one line after the flood.
    void incidentsEndOnTheTimerOrBeyondTheCap()
    {
        Rig quiet(Loud, false, 30);
        quiet.scan({ "10.0.0.5:21", "10.0.0.7:22" }, 1s);
        quiet.now += 30s;
        quiet.handler.expireIncidents();
        QCOMPARE(quiet.ended(), QStringList { "1 10.0.0.5 21 1" }); // the second is 1 s younger
        quiet.now += 1s;
        quiet.handler.expireIncidents();
        QCOMPARE(quiet.handler.incidents().openCount(), 0);

        Rig rig(Loud);
        QStringList hits;
        for (int i = 0; i < IncidentTracker::MaxOpen; ++i)
            hits << QString("2001:db8::%1:23").arg(i, 0, 16);
        hits += { hits.first(), "192.0.2.1:23", "192.0.2.2:23" }; // the first, seen again, is not the quietest
        rig.scan(hits, 1ms);
        QCOMPARE(rig.ended(), QStringList({ "2 2001:db8::1 23 1", "3 2001:db8::2 23 1" }));
        QCOMPARE(rig.handler.incidents().openCount(), IncidentTracker::MaxOpen);
        const qsizetype lines = rig.recorder.lines().size();
        rig.now += 61s;
        rig.handler.expireIncidents();
        rig.handler.expireIncidents();
        QCOMPARE(rig.ended().size(), IncidentTracker::MaxOpen + 2);
        QCOMPARE(rig.recorder.lines().mid(lines),
            QStringList("Incidents: 2 ended early, more than 4096 sources at once"));
    }

    void allowedSourcesAreCountedAndRecordedOnly()
    {
        Rig rig(Loud, false, 60, "10.0.0.0/8");
        rig.scan({ "10.1.2.3:21", "::ffff:10.1.2.3:23", "192.0.2.1:21" }, 1s);
        QCOMPARE(rig.handler.allowedCount(), quint64(2));
        QCOMPARE(rig.handler.intrusionCount(), quint64(1));

        // The self-test's own connection counts once as an intrusion, then the list holds again.
        rig.handler.exemptOnce(ip("10.1.2.3"));
        rig.scan({ "10.1.2.3:21", "10.1.2.3:21" }, 1s);
        QCOMPARE(rig.handler.intrusionCount(), quint64(2));
        QCOMPARE(rig.handler.allowedCount(), quint64(3));
    }
};

QTEST_GUILESS_MAIN(TestAlertActions)
#include "tst_AlertActions.moc"
