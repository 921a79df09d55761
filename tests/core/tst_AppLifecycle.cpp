#include "AppLifecycle.h"
#include "OptionsModel.h"
#include "ProgramFolder.h"
#include "ProgramLauncher.h"
#include "SettingsManager.h"
#include "StatusReporter.h"
#include "TestStore.h"

#include <QDir>
#include <QtTest>

namespace {
// Stands in for every area start-up switches, and writes each call into one journal, so tests
// see the order across areas.
class RecordingTargets final : public MonitorWindowControl,
                               public MonitoringControl,
                               public TrayIcon,
                               public HotkeyPoller,
                               public StartupRegistration,
                               public NetworkWatch,
                               public ProgramLauncher,
                               public StatusReporter
{
public:
    // clang-format off
    void toggleMonitorView() override { calls << "toggleMonitorView"; }
    void setAlwaysOnTop() override { calls << "setAlwaysOnTop"; }
    void clearAlwaysOnTop() override { calls << "clearAlwaysOnTop"; }
    void minimize() override { calls << "minimize"; }
    void measureStatusList() override { calls << "measureStatusList"; }
    void setAutoScrollEnabled(bool on) override { calls << (on ? "autoScroll on" : "autoScroll off"); }
    void startMinimizedWatch() override { calls << "startMinimizedWatch"; }
    void hideMinimizedMonitor() override { calls << "hideMinimizedMonitor"; }
    void toggleMonitoring() override { calls << "toggleMonitoring"; workingFolder = QDir::currentPath(); }
    void unloadSentinel() override { calls << "unloadSentinel"; }
    void trayIconAdd() override { calls << "trayIconAdd"; }
    void trayIconDelete() override { calls << "trayIconDelete"; }
    bool isShown() const override { return false; }
    void load() override { calls << "hotkeys load"; }
    void unload() override { calls << "hotkeys unload"; }
    void addToStartup() override { calls << "addToStartup"; }
    void removeFromStartup() override { calls << "removeFromStartup"; }
    void setEnabled(bool on) override { calls << (on ? "netcheck on" : "netcheck off"); }
    void resetNetState() override { calls << "resetNetState"; }
    // A program that cannot start must not stop start-up.
    bool start(const QString& commandLine, const Environment& = {}) override
    {
        calls << "start " + commandLine;
        return false;
    }
    void addStatusLine(const QString& text) override { calls << "line " + text; }
    void setStatusText(const QString& text) override { calls << "status " + text; }
    // clang-format on

    QStringList calls;
    QString workingFolder;
};

// A whole program's start-up surroundings over a temporary store and program folder.
struct Rig
{
    Rig()
        : folder(dir.filePath("Sentrel"), { assets.path() })
        , manager(store.store(), options)
        , lifecycle(manager, folder, fakes, fakes,
              StartupTargets { &fakes, &fakes, &fakes, &fakes, &fakes, &fakes },
              [this] { fakes.calls << "endProcess"; })
    {
    }

    // Stores the first-start values with the given keys changed, then loads them.
    void load(const QList<std::tuple<QString, QString, QString>>& changes)
    {
        manager.firstStartup();
        for (const auto& [section, key, value] : changes)
            store.store().write(section, key, value);
        manager.loadSettings();
        fakes.calls.clear();
    }

    QTemporaryDir dir;
    QTemporaryDir assets;
    TestStore store;
    OptionsModel options;
    ProgramFolder folder;
    SettingsManager manager;
    RecordingTargets fakes;
    AppLifecycle lifecycle;
};

QList<std::tuple<QString, QString, QString>> allFlags(const QString& flag, const QString& sw)
{
    return {
        { "General", "Hide Monitor", flag },
        { "General", "Start Monitoring", flag },
        { "General", "Run", flag },
        { "General", "Run File", "xterm -e top" },
        { "Display", "Always On Top", flag },
        { "Display", "Min On Startup", flag },
        { "Display", "Use IconTray", flag },
        { "Display", "Use Hotkeys", flag },
        { "Display", "Auto Scroll Monitor", flag },
        { "Display", "Windows Startup", flag },
        { "Sounds", "On", sw },
        { "Advance", "RPS", flag },
    };
}
} // namespace

class TestAppLifecycle : public QObject
{
    Q_OBJECT

private slots:
    void applyingSettings_data();
    void applyingSettings();
    void formLoadPreparesFolderBeforeApplyingAndEndsReady();
    void exitRemovesTrayIconThenEnds();
    // Start-up changes the working folder; every test begins where the first one did.
    void cleanup() { QDir::setCurrent(m_cwd); }

private:
    const QString m_cwd = QDir::currentPath();
};

void TestAppLifecycle::applyingSettings_data()
{
    const QStringList reapplyNotOff { "setAlwaysOnTop", "trayIconAdd", "hotkeys load", "measureStatusList",
        "autoScroll on", "addToStartup", "netcheck on", "hideMinimizedMonitor" };
    QTest::addColumn<bool>("reapply");
    QTest::addColumn<QString>("flag");
    QTest::addColumn<QString>("switchValue");
    QTest::addColumn<QStringList>("calls");
    QTest::newRow("start-up, every flag on: eleven steps in order")
        << false << "1"
        << "True"
        << QStringList { "toggleMonitorView", "toggleMonitoring", "start xterm -e top", "setAlwaysOnTop",
               "minimize", "trayIconAdd", "hotkeys load", "measureStatusList", "autoScroll on",
               "addToStartup", "netcheck on", "startMinimizedWatch" };
    // Start-up never switches anything off, and only 1 counts as on.
    QTest::newRow("start-up, every flag off") << false << "0"
                                              << "False" << QStringList { "startMinimizedWatch" };
    QTest::newRow("start-up, only 1 is on") << false << "2"
                                            << "yes" << QStringList { "startMinimizedWatch" };
    QTest::newRow("re-apply, every flag on") << true << "1"
                                             << "True" << reapplyNotOff;
    // Re-apply compares against 0: a 2 that start-up would not count as on is "not off" here.
    QTest::newRow("re-apply, only 0 is off") << true << "2"
                                             << "True" << reapplyNotOff;
    QTest::newRow("re-apply, every flag off")
        << true << "0"
        << "False"
        << QStringList { "clearAlwaysOnTop", "trayIconDelete", "hotkeys unload", "autoScroll off",
               "removeFromStartup", "netcheck off", "resetNetState", "unloadSentinel",
               "hideMinimizedMonitor" };
}

void TestAppLifecycle::applyingSettings()
{
    QFETCH(bool, reapply);
    QFETCH(QString, flag);
    QFETCH(QString, switchValue);
    Rig rig;
    rig.load(allFlags(flag, switchValue));
    if (reapply)
        rig.lifecycle.reapplySettings();
    else
        rig.lifecycle.applyStartupSettings();
    QTEST(rig.fakes.calls, "calls");
}

void TestAppLifecycle::formLoadPreparesFolderBeforeApplyingAndEndsReady()
{
    Rig rig;
    QFile asset(rig.assets.filePath("Start.wav"));
    QVERIFY(asset.open(QIODevice::WriteOnly));
    asset.write("RIFF");
    asset.close();

    rig.lifecycle.formLoad(); // empty store: first start, then the first-start values apply

    const QString folder = rig.dir.filePath("Sentrel");
    QCOMPARE(rig.fakes.workingFolder, folder);
    QCOMPARE(rig.manager.settings().appPath, folder + "/");
    QVERIFY(QFile::exists(folder + "/Start.wav"));
    QCOMPARE(rig.fakes.calls.last(), QString("status Ready."));
    QVERIFY(rig.fakes.calls.contains("toggleMonitoring"));
    QVERIFY(rig.fakes.calls.contains("minimize"));
    QVERIFY(rig.fakes.calls.contains("trayIconAdd"));
    QVERIFY(!rig.fakes.calls.contains("toggleMonitorView"));

    // A user's own file of an asset's name is never replaced.
    QFile own(folder + "/Start.wav");
    QVERIFY(own.open(QIODevice::WriteOnly | QIODevice::Truncate));
    own.write("mine");
    own.close();
    QVERIFY(rig.folder.prepare());
    QVERIFY(own.open(QIODevice::ReadOnly));
    QCOMPARE(own.readAll(), QByteArray("mine"));
}

void TestAppLifecycle::exitRemovesTrayIconThenEnds()
{
    Rig rig;
    rig.load({});
    rig.lifecycle.exitProgram();
    QCOMPARE(rig.fakes.calls, QStringList({ "trayIconDelete", "endProcess" }));
    // Nothing is saved on the way out.
    QCOMPARE(rig.store.store().read("Display", "Always On Top"), QString("0"));
}

QTEST_GUILESS_MAIN(TestAppLifecycle)
#include "tst_AppLifecycle.moc"
