#include "AppLifecycle.h"
#include "OptionsModel.h"
#include "PrivateFiles.h"
#include "ProgramFolder.h"
#include "ProgramLauncher.h"
#include "SettingsManager.h"
#include "StatusReporter.h"
#include "TestStore.h"

#include <QDir>
#include <QScopeGuard>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {
// Stands in for every area start-up switches, and writes each call into one journal, so tests
// see the order across areas.
class RecordingTargets final : public MonitorWindowControl,
                               public MonitoringControl,
                               public TrayIcon,
                               public HotkeyControl,
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
    QString addToStartup() override { calls << "addToStartup"; return registrationProblem; }
    QString removeFromStartup() override { calls << "removeFromStartup"; return registrationProblem; }
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
    QString registrationProblem;
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

    // Stores the first-start values with every start-up flag set to the given value, then loads them.
    void load(const QString& flag, const QString& soundsOn)
    {
        manager.firstStartup();
        store.store().write("General", "Run File", "xterm -e top");
        store.store().write("Sounds", "On", soundsOn);
        store.store().write("Advance", "RPS", flag);
        for (const char* key : { "Hide Monitor", "Start Monitoring", "Run" })
            store.store().write("General", key, flag);
        for (const char* key : { "Always On Top", "Min On Startup", "Use IconTray", "Use Hotkeys",
                 "Auto Scroll Monitor", "Windows Startup" })
            store.store().write("Display", key, flag);
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

unsigned modeOf(const QString& path)
{
    struct stat status {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode & 07777 : 0u;
}
} // namespace

class TestAppLifecycle : public QObject
{
    Q_OBJECT

private slots:
    // Start-up changes the working folder; every test begins where the first one did.
    void cleanup() { QDir::setCurrent(m_cwd); }

    void applyingSettings_data()
    {
        QTest::addColumn<bool>("reapply");
        QTest::addColumn<QString>("flag");
        QTest::addColumn<QString>("switchValue");
        QTest::addColumn<QStringList>("calls");
        const QStringList reapplyNotOff { "setAlwaysOnTop", "trayIconAdd", "hotkeys load",
            "measureStatusList", "autoScroll on", "addToStartup", "netcheck on", "hideMinimizedMonitor" };
        const auto row
            = [](const char* name, bool reapply, const char* flag, const char* sw, const QStringList& calls) {
                  QTest::newRow(name) << reapply << flag << sw << calls;
              };
        row("start-up, every flag on: eleven steps in order", false, "1", "True",
            { "toggleMonitorView", "toggleMonitoring", "start xterm -e top", "setAlwaysOnTop", "minimize",
                "trayIconAdd", "hotkeys load", "measureStatusList", "autoScroll on", "addToStartup",
                "netcheck on", "startMinimizedWatch" });
        // Start-up never switches anything off, and only 1 counts as on.
        row("start-up, every flag off", false, "0", "False", { "startMinimizedWatch" });
        row("start-up, only 1 is on", false, "2", "yes", { "startMinimizedWatch" });
        row("re-apply, every flag on", true, "1", "True", reapplyNotOff);
        // Re-apply compares against 0: a 2 that start-up would not count as on is "not off" here.
        row("re-apply, only 0 is off", true, "2", "True", reapplyNotOff);
        row("re-apply, every flag off", true, "0", "False",
            { "clearAlwaysOnTop", "trayIconDelete", "hotkeys unload", "autoScroll off", "removeFromStartup",
                "netcheck off", "resetNetState", "unloadSentinel", "hideMinimizedMonitor" });
    }
    void applyingSettings()
    {
        QFETCH(bool, reapply);
        QFETCH(QString, flag);
        QFETCH(QString, switchValue);
        Rig rig;
        rig.load(flag, switchValue);
        reapply ? rig.lifecycle.reapplySettings() : rig.lifecycle.applyStartupSettings();
        QTEST(rig.fakes.calls, "calls");
    }

    void formLoadPreparesFolderBeforeApplyingAndEndsReady()
    {
        Rig rig;
        const mode_t umask = ::umask(0); // the folder is private whatever the umask
        const auto restore = qScopeGuard([&] { ::umask(umask); });
        QFile asset(rig.assets.filePath("Start.wav"));
        QVERIFY(asset.open(QIODevice::WriteOnly) && asset.write("RIFF") == 4);
        asset.close();
        // Only the program's own assets are copied, whatever else the folder holds; one that
        // cannot be copied is said.
        const QString folder = rig.dir.filePath("Sentrel");
        for (const char* name : { "stray.so", "Intruder.wav" })
            QVERIFY(QFile::copy(asset.fileName(), rig.assets.filePath(name)));
        QVERIFY(QDir().mkpath(folder)
            && QFile::link(rig.dir.filePath("gone/Intruder.wav"), folder + "/Intruder.wav"));
        rig.fakes.registrationProblem = "Cannot write the autostart entry";

        rig.lifecycle.formLoad(); // empty store: first start, then the first-start values apply
        QCOMPARE(rig.fakes.workingFolder, folder);
        QCOMPARE(rig.manager.settings().appPath, folder + "/");
        QCOMPARE(modeOf(folder), 0700u);
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList { "Start.wav" });
        const QStringList lines = rig.fakes.calls.filter("line ");
        QCOMPARE(lines.size(), 2);
        QVERIFY2(lines[0].startsWith("line Cannot copy Intruder.wav into the program folder: "),
            qPrintable(lines[0]));
        QCOMPARE(lines[1], "line Cannot write the autostart entry");
        QCOMPARE(rig.fakes.calls.last(), QString("status Ready."));
        QVERIFY(rig.fakes.calls.contains("toggleMonitoring") && rig.fakes.calls.contains("minimize")
            && rig.fakes.calls.contains("trayIconAdd") && !rig.fakes.calls.contains("toggleMonitorView"));

        // A user's own file of an asset's name is never replaced.
        QFile own(folder + "/Start.wav");
        QVERIFY(own.open(QIODevice::WriteOnly | QIODevice::Truncate) && own.write("mine") == 4);
        own.close();
        QVERIFY(QFile::remove(folder + "/Intruder.wav"));
        QCOMPARE(rig.folder.prepare(), QStringList());
        QVERIFY(own.open(QIODevice::ReadOnly));
        QCOMPARE(own.readAll(), QByteArray("mine"));

        // Exit removes the tray icon, then ends; an unsaved change stays unsaved.
        rig.fakes.calls.clear();
        rig.options.setCheckState(OptionsModel::Check::AlwaysTop, 1);
        rig.lifecycle.exitProgram();
        QCOMPARE(rig.fakes.calls, QStringList({ "trayIconDelete", "endProcess" }));
        QCOMPARE(rig.store.store().read("Display", "Always On Top"), QString("0"));

        // A folder that cannot be made is said, and start-up goes on.
        ProgramFolder blocked(rig.assets.filePath("Start.wav/Sentrel"), {});
        QCOMPARE(blocked.prepare(),
            QStringList { "Cannot create the program folder " + blocked.appPath().chopped(1)
                + ": cannot create its parent folder" });
    }

    // A log is created private whatever the umask, narrowed when found open, and never written
    // through a link or into a pipe someone put in its place.
    void logOpensArePrivateAndFollowNoLink()
    {
        QTemporaryDir dir;
        const mode_t umask = ::umask(0);
        const auto restore = qScopeGuard([&] { ::umask(umask); });
        const QByteArray log = QFile::encodeName(dir.filePath("Log.txt"));
        for (const mode_t before : { 0u, 0644u }) {
            QVERIFY(before == 0 || ::chmod(log.constData(), before) == 0);
            const int fd = PrivateFiles::openForAppend(log);
            QVERIFY(fd >= 0 && ::close(fd) == 0);
            QCOMPARE(modeOf(log), 0600u);
        }
        const QString target = dir.filePath("elsewhere");
        QVERIFY(QFile::remove(log) && QFile::link(target, log));
        QVERIFY(PrivateFiles::openForAppend(log) < 0 && errno == ELOOP);
        QVERIFY(!QFile::exists(target));
        QVERIFY(QFile::remove(log) && ::mkfifo(log.constData(), 0600) == 0);
        QVERIFY(PrivateFiles::openForAppend(log) < 0);
    }

private:
    const QString m_cwd = QDir::currentPath();
};

QTEST_GUILESS_MAIN(TestAppLifecycle)
#include "tst_AppLifecycle.moc"
