#include "AppLifecycle.h"
#include "OptionsModel.h"
#include "PrivateFiles.h"
#include "ProgramFolder.h"
#include "RecordingDesktop.h"
#include "SettingsManager.h"
#include "TestFiles.h"
#include "TestStore.h"

#include <sys/stat.h>
#include <unistd.h>

namespace {
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

    // The first-start values with every start-up flag set to the given value, loaded.
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
    RecordingDesktop fakes;
    AppLifecycle lifecycle;
};
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
        QTest::addColumn<QString>("calls");
        const auto row = [](const char* name, bool reapply, const char* flag, const char* sw,
                             const char* calls) { QTest::newRow(name) << reapply << flag << sw << calls; };
        // clang-format off
        row("start-up, every flag on: eleven steps in order", false, "1", "True",
            "toggleMonitorView, toggleMonitoring, start xterm -e top, setAlwaysOnTop, minimize, trayIconAdd, "
            "hotkeys load, measureStatusList, autoScroll on, addToStartup, netcheck on, startMinimizedWatch");
        row("start-up never switches off and only 1 is on", false, "2", "yes", "startMinimizedWatch");
        // Re-apply compares against 0: a 2 that start-up would not count as on is "not off" here.
        row("re-apply, only 0 is off", true, "2", "True", "setAlwaysOnTop, trayIconAdd, hotkeys load, "
            "measureStatusList, autoScroll on, addToStartup, netcheck on, hideMinimizedMonitor");
        row("re-apply, every flag off", true, "0", "False", "clearAlwaysOnTop, trayIconDelete, hotkeys unload, "
            "autoScroll off, removeFromStartup, netcheck off, resetNetState, unloadSentinel, hideMinimizedMonitor");
        // clang-format on
    }
    void applyingSettings()
    {
        QFETCH(bool, reapply);
        QFETCH(QString, flag);
        QFETCH(QString, switchValue);
        Rig rig;
        rig.load(flag, switchValue);
        reapply ? rig.lifecycle.reapplySettings() : rig.lifecycle.applyStartupSettings();
        QTEST(rig.fakes.calls.join(", "), "calls");
    }

    // First start: the folder made, the assets copied (a failure said, a user's file kept), the
    // first-start values applied, a problem said, then Ready.
    void startUpPreparesFolderBeforeApplyingAndEndsReady()
    {
        Rig rig;
        const QString folder = rig.dir.filePath("Sentrel");
        for (const char* asset : { "Start.wav", "NetOn.wav", "stray.so", "Intruder.wav" })
            QVERIFY(writeFile(rig.assets.filePath(asset), "RIFF"));
        QVERIFY(QDir().mkpath(folder) && writeFile(folder + "/NetOn.wav", "mine"));
        QVERIFY(QFile::link(rig.dir.filePath("gone/Intruder.wav"), folder + "/Intruder.wav"));
        rig.fakes.registrationProblem = "Cannot write the autostart entry";

        rig.lifecycle.startUp(); // empty store: first start, then the first-start values apply
        QCOMPARE(rig.fakes.workingFolder, folder);
        QCOMPARE(rig.manager.settings().appPath, folder + "/");
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList({ "NetOn.wav", "Start.wav" }));
        QCOMPARE(fileBytes(folder + "/NetOn.wav"), "mine");
        const QStringList lines = rig.fakes.calls.filter("line ");
        QCOMPARE(lines.join('|').section(": ", 0, 0) + '|' + lines.value(1),
            "line Cannot copy Intruder.wav into the program folder|line Cannot write the autostart entry");
        QCOMPARE(rig.fakes.calls.last(), QString("status Ready."));
        QVERIFY(
            rig.fakes.calls.contains("toggleMonitoring") && !rig.fakes.calls.contains("toggleMonitorView"));

        // Exit removes the tray icon, then ends; an unsaved change stays unsaved.
        rig.fakes.calls.clear();
        rig.options.set(&Settings::alwaysOnTop, Flag(1));
        rig.lifecycle.exitProgram();
        QCOMPARE(rig.fakes.calls, QStringList({ "trayIconDelete", "endProcess" }));
        QCOMPARE(rig.store.store().read("Display", "Always On Top"), QString("0"));

        // A folder that cannot be made is said, and start-up goes on.
        ProgramFolder blocked(rig.assets.filePath("Start.wav/Sentrel"), {});
        QCOMPARE(blocked.prepare(),
            QStringList { "Cannot create the program folder " + blocked.appPath().chopped(1)
                + ": cannot create its parent folder" });
    }

    // A log is private whatever the umask, narrowed when found open, never written through a link or pipe.
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
            QCOMPARE(QFile::permissions(log),
                QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
        }
        QVERIFY(QFile::remove(log) && QFile::link(dir.filePath("elsewhere"), log));
        QVERIFY(PrivateFiles::openForAppend(log) < 0 && errno == ELOOP
            && !QFile::exists(dir.filePath("elsewhere")));
        QVERIFY(QFile::remove(log) && ::mkfifo(log.constData(), 0600) == 0);
        QVERIFY(PrivateFiles::openForAppend(log) < 0);
    }

private:
    const QString m_cwd = QDir::currentPath();
};

QTEST_GUILESS_MAIN(TestAppLifecycle)
#include "tst_AppLifecycle.moc"
