#include "AlertActions.h"
#include "ChatCommandSender.h"
#include "Clipboard.h"
#include "IconFlasher.h"
#include "IniSettingsStore.h"
#include "IntruderRecord.h"
#include "OptionsModel.h"
#include "ProgramLauncher.h"
#include "SettingsManager.h"
#include "SoundPlayer.h"
#include "WallpaperChanger.h"

#include <QtTest>

using namespace std::chrono_literals;

// Stands in for every desktop service and records each request, in order, as one line.
class Recorder final : public IconFlasher,
                       public WallpaperChanger,
                       public ProgramLauncher,
                       public Clipboard,
                       public SoundPlayer,
                       public ChatCommandSender
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
    void sendDdeCommand(const QString& service, const QString& text) override
    {
        calls << "chat " + service + '|' + text;
    }

    QStringList calls;
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
};

// Runs under LC_ALL=C.UTF-8 and TZ=UTC, so the locale's date and time forms in the log are known.
class TestAlertActions : public QObject
{
    Q_OBJECT

    // "Section/Key=value;...", saved and loaded as the program would.
    void set(const QString& settings)
    {
        for (const QString& s : settings.split(';', Qt::SkipEmptyParts))
            m_alarm->store.write(
                s.section('/', 0, 0), s.section('/', 1).section('=', 0, 0), s.section('=', 1));
        m_alarm->settings.loadSettings();
        m_alarm->settings.setAppPath(m_alarm->dir.path() + '/');
    }
    QByteArray log()
    {
        m_alarm->actions.intruderLog().flush();
        QFile file(m_alarm->dir.filePath("Log.txt"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    std::unique_ptr<Alarm> m_alarm;
    const IntruderRecord m_intruder { "10.0.0.5", 23, {} };

private slots:
    void init()
    {
        m_alarm = std::make_unique<Alarm>();
        m_alarm->settings.firstStartup();
        set("Display/Flash Icon=0;Display/Use IconTray=0;Display/Copy Clipboard=0;Sounds/On=False;"
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
        set(settings);
        m_alarm->actions.raiseIntruderAlert(m_intruder);
        if (!log().isEmpty())
            m_alarm->recorder.calls << "log";
        QCOMPARE(m_alarm->recorder.calls, expected.replaceInStrings("%1", m_alarm->dir.path()));
    }

    void everythingOnRunsTheStepsInOrderEvenWhenTheLogFails()
    {
        QVERIFY(QDir(m_alarm->dir.path()).mkdir("Log.txt")); // cannot be opened as a file, not even by root
        set("Display/Flash Icon=1;Display/Use IconTray=1;Display/Change Background=1;Display/Attack Run=1;"
            "Display/Copy Clipboard=1;Sounds/On=True;General/Logs=True;Advance/DDE On=1");
        m_alarm->options.setText(OptionsModel::Text::Sound2, "Siren.wav"); // an edit not yet saved counts
        m_alarm->actions.raiseIntruderAlert(m_intruder);
        m_alarm->options.setText(OptionsModel::Text::DdeService, "fifo:/tmp/chat");
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
        QCOMPARE(log().count("IP: "), 1);
        QVERIFY(log().contains("\r\nIP: 10.0.0.6\r\nAttacked Port: 24\r\nMessage: \r\n"));
    }

    void floodRunsChildProcessesAtMostOncePerSecond()
    {
        set("Display/Attack Run=1;Sounds/On=True;General/Logs=True;Display/Copy Clipboard=1;"
            "Display/Change Background=1");
        for (int i = 0; i < 1000; ++i, m_alarm->now += 1ms)
            m_alarm->actions.raiseIntruderAlert(
                { QStringLiteral("10.0.%1.%2").arg(i / 256).arg(i % 256), 23, {} });
        const auto count = [this](const char* kind) { return m_alarm->recorder.calls.filter(kind).size(); };
        for (const char* kind : { "start ", "sound ", "wallpaper " })
            QVERIFY2(count(kind) >= 1 && count(kind) <= 2, kind);
        QCOMPARE(count("clipboard "), 1000);
        QCOMPARE(log().count("Intruder Information - "), 1000);

        // The limit delays, it does not switch off: the next intrusion after a quiet second acts again.
        const qsizetype started = count("start ");
        m_alarm->now += 1s;
        m_alarm->actions.raiseIntruderAlert(m_intruder);
        QCOMPARE(count("start "), started + 1);
    }
};

QTEST_GUILESS_MAIN(TestAlertActions)
#include "tst_AlertActions.moc"
