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
// Every fake appends what it was asked to one shared journal, so tests see the order.
struct Journal
{
    QStringList calls;
    void operator()(const QString& call) { calls.append(call); }
};

class FakeWindow final : public MonitorWindowControl
{
public:
    explicit FakeWindow(Journal& j)
        : m_j(j)
    {
    }
    void toggleMonitorView() override { m_j("toggleMonitorView"); }
    void setAlwaysOnTop() override { m_j("setAlwaysOnTop"); }
    void clearAlwaysOnTop() override { m_j("clearAlwaysOnTop"); }
    void minimize() override { m_j("minimize"); }
    void measureStatusList() override { m_j("measureStatusList"); }
    void setAutoScrollEnabled(bool on) override { m_j(on ? "autoScroll on" : "autoScroll off"); }
    void startMinimizedWatch() override { m_j("startMinimizedWatch"); }
    void hideMinimizedMonitor() override { m_j("hideMinimizedMonitor"); }

private:
    Journal& m_j;
};

class FakeMonitoring final : public MonitoringControl
{
public:
    explicit FakeMonitoring(Journal& j)
        : m_j(j)
    {
    }
    void toggleMonitoring() override
    {
        m_j("toggleMonitoring");
        workingFolder = QDir::currentPath();
    }
    void unloadSentinel() override { m_j("unloadSentinel"); }
    QString workingFolder;

private:
    Journal& m_j;
};

class FakeTray final : public TrayIcon
{
public:
    explicit FakeTray(Journal& j)
        : m_j(j)
    {
    }
    void trayIconAdd() override { m_j("trayIconAdd"); }
    void trayIconDelete() override { m_j("trayIconDelete"); }
    bool isShown() const override { return false; }

private:
    Journal& m_j;
};

class FakeHotkeys final : public HotkeyPoller
{
public:
    explicit FakeHotkeys(Journal& j)
        : m_j(j)
    {
    }
    void load() override { m_j("hotkeys load"); }
    void unload() override { m_j("hotkeys unload"); }

private:
    Journal& m_j;
};

class FakeRegistration final : public StartupRegistration
{
public:
    explicit FakeRegistration(Journal& j)
        : m_j(j)
    {
    }
    void addToStartup() override { m_j("addToStartup"); }
    void removeFromStartup() override { m_j("removeFromStartup"); }

private:
    Journal& m_j;
};

class FakeNetworkWatch final : public NetworkWatch
{
public:
    explicit FakeNetworkWatch(Journal& j)
        : m_j(j)
    {
    }
    void setEnabled(bool on) override { m_j(on ? "netcheck on" : "netcheck off"); }
    void resetNetState() override { m_j("resetNetState"); }

private:
    Journal& m_j;
};

class FakeLauncher final : public ProgramLauncher
{
public:
    explicit FakeLauncher(Journal& j)
        : m_j(j)
    {
    }
    bool start(const QString& commandLine) override
    {
        m_j("start " + commandLine);
        return false; // a program that cannot start must not stop start-up
    }

private:
    Journal& m_j;
};

class FakeStatus final : public StatusReporter
{
public:
    explicit FakeStatus(Journal& j)
        : m_j(j)
    {
    }
    void addStatusLine(const QString& text) override { m_j("line " + text); }
    void setStatusText(const QString& text) override { m_j("status " + text); }

private:
    Journal& m_j;
};

// A whole program's start-up surroundings over a temporary store and program folder.
struct Rig
{
    Rig()
        : folder(dir.filePath("Sentrel"), { assets.path() })
        , manager(store.store(), options)
        , window(journal)
        , monitoring(journal)
        , tray(journal)
        , hotkeys(journal)
        , registration(journal)
        , networkWatch(journal)
        , launcher(journal)
        , status(journal)
        , lifecycle(manager, folder, status, launcher,
              StartupTargets { &window, &monitoring, &tray, &hotkeys, &registration, &networkWatch },
              [this] { journal("endProcess"); })
    {
    }

    // Stores the first-start values with the given keys changed, then loads them.
    void load(const QList<std::tuple<QString, QString, QString>>& changes)
    {
        manager.firstStartup();
        for (const auto& [section, key, value] : changes)
            store.store().write(section, key, value);
        manager.loadSettings();
        journal.calls.clear();
    }

    QTemporaryDir dir;
    QTemporaryDir assets;
    TestStore store;
    OptionsModel options;
    ProgramFolder folder;
    SettingsManager manager;
    Journal journal;
    FakeWindow window;
    FakeMonitoring monitoring;
    FakeTray tray;
    FakeHotkeys hotkeys;
    FakeRegistration registration;
    FakeNetworkWatch networkWatch;
    FakeLauncher launcher;
    FakeStatus status;
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
    void startupWithEveryFlagOnRunsElevenStepsInOrder();
    void startupWithEveryFlagOffOnlyStartsMinimizedWatch();
    void startupTreatsOnlyOneAsOn();
    void reapplyRunsBothOutcomes();
    void reapplyTreatsOnlyZeroAsOff();
    void formLoadPreparesFolderBeforeApplyingAndEndsReady();
    void exitRemovesTrayIconThenEnds();
    // Start-up changes the working folder; every test begins where the first one did.
    void cleanup() { QDir::setCurrent(m_cwd); }

private:
    const QString m_cwd = QDir::currentPath();
};

void TestAppLifecycle::startupWithEveryFlagOnRunsElevenStepsInOrder()
{
    Rig rig;
    rig.load(allFlags("1", "True"));
    rig.lifecycle.applyStartupSettings();
    QCOMPARE(rig.journal.calls,
        QStringList({ "toggleMonitorView", "toggleMonitoring", "start xterm -e top", "setAlwaysOnTop",
            "minimize", "trayIconAdd", "hotkeys load", "measureStatusList", "autoScroll on", "addToStartup",
            "netcheck on", "startMinimizedWatch" }));
}

void TestAppLifecycle::startupWithEveryFlagOffOnlyStartsMinimizedWatch()
{
    Rig rig;
    rig.load(allFlags("0", "False"));
    rig.lifecycle.applyStartupSettings();
    // Start-up never switches anything off.
    QCOMPARE(rig.journal.calls, QStringList({ "startMinimizedWatch" }));
}

void TestAppLifecycle::startupTreatsOnlyOneAsOn()
{
    Rig rig;
    rig.load(allFlags("2", "yes"));
    rig.lifecycle.applyStartupSettings();
    QCOMPARE(rig.journal.calls, QStringList({ "startMinimizedWatch" }));
}

void TestAppLifecycle::reapplyRunsBothOutcomes()
{
    Rig rig;
    rig.load(allFlags("1", "True"));
    rig.lifecycle.reapplySettings();
    QCOMPARE(rig.journal.calls,
        QStringList({ "setAlwaysOnTop", "trayIconAdd", "hotkeys load", "measureStatusList", "autoScroll on",
            "addToStartup", "netcheck on", "hideMinimizedMonitor" }));

    rig.load(allFlags("0", "False"));
    rig.lifecycle.reapplySettings();
    QCOMPARE(rig.journal.calls,
        QStringList(
            { "clearAlwaysOnTop", "trayIconDelete", "hotkeys unload", "autoScroll off", "removeFromStartup",
                "netcheck off", "resetNetState", "unloadSentinel", "hideMinimizedMonitor" }));
}

void TestAppLifecycle::reapplyTreatsOnlyZeroAsOff()
{
    // A flag of 2 is "not off" for re-apply, while start-up would not count it as on.
    Rig rig;
    rig.load(allFlags("2", "True"));
    rig.lifecycle.reapplySettings();
    QCOMPARE(rig.journal.calls,
        QStringList({ "setAlwaysOnTop", "trayIconAdd", "hotkeys load", "measureStatusList", "autoScroll on",
            "addToStartup", "netcheck on", "hideMinimizedMonitor" }));
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
    QCOMPARE(rig.monitoring.workingFolder, folder);
    QCOMPARE(rig.manager.settings().appPath, folder + "/");
    QVERIFY(QFile::exists(folder + "/Start.wav"));
    QCOMPARE(rig.journal.calls.last(), QString("status Ready."));
    QVERIFY(rig.journal.calls.contains("toggleMonitoring"));
    QVERIFY(rig.journal.calls.contains("minimize"));
    QVERIFY(rig.journal.calls.contains("trayIconAdd"));
    QVERIFY(!rig.journal.calls.contains("toggleMonitorView"));

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
    QCOMPARE(rig.journal.calls, QStringList({ "trayIconDelete", "endProcess" }));
    // Nothing is saved on the way out.
    QCOMPARE(rig.store.store().read("Display", "Always On Top"), QString("0"));
}

QTEST_GUILESS_MAIN(TestAppLifecycle)
#include "tst_AppLifecycle.moc"
