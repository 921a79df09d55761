#include "HotkeyPoller.h"
#include "PrivateXServer.h"
#include "StatusReporter.h"
#include "XInputKeyState.h"

#include <QApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

#include <bitset>

using namespace std::chrono_literals;

namespace {
// Everything the function keys act on, in one record, so that a test sees the order across them.
// clang-format off
struct Desktop final : MonitorWindowAccess, MonitorWindowControl, MonitoringControl, OptionsOpener, StatusReporter
{
    void restoreMonitor() override { log << "restore"; }
    void toggleMonitorView() override { log << "view"; }
    void toggleMonitoring() override { log << "monitoring"; }
    void openOptions(OptionsOpenedBy by) override { log << (by == OptionsOpenedBy::Hotkey ? "options" : "?"); }
    void addStatusLine(const QString& text) override { log << text; }
    // Not asked by the keys.
    void setMonitorEnabled(bool) override { } void setAlwaysOnTop() override { } void clearAlwaysOnTop() override { }
    void minimize() override { } void measureStatusList() override { } void setAutoScrollEnabled(bool) override { }
    void startMinimizedWatch() override { } void hideMinimizedMonitor() override { } void unloadSentinel() override { }
    void setStatusText(const QString&) override { }
    HotkeyTargets targets() { return { this, this, this, this, this, [this] { log << "clear"; } }; }

    QStringList log;
};

// The keys a test marks as pressed stay pressed like held keys; the watch's start and stop are recorded.
struct FakeKeys final : FunctionKeyState
{
    explicit FakeKeys(QStringList& log) : log(log) { }
    bool isAvailable() const override { return available; }
    void startWatching() override { log << "start"; }
    void stopWatching() override { log << "stop"; }
    bool takePressed(Key key) override { return pressed.test(key); }

    QStringList& log;
    bool available = true;
    std::bitset<4> pressed;
};
// clang-format on

bool xdotool(const QStringList& arguments, QByteArray* out = nullptr)
{
    QProcess tool;
    tool.start("xdotool", arguments);
    const bool ok = tool.waitForFinished(15000) && tool.exitCode() == 0;
    if (out)
        *out = tool.readAllStandardOutput();
    return ok;
}
} // namespace

class TestGlobalHotkeys : public QObject
{
    Q_OBJECT

    QProcess m_focused;

private slots:
    // One poll with all four keys down, over a key state the test sets.
    void pollRunsEachPressedKeyInOrder()
    {
        Desktop desktop, bare;
        FakeKeys keys(desktop.log), none(bare.log);
        HotkeyPoller poller(keys, desktop.targets()), without(none, bare.targets());
        poller.unload(); // never loaded: nothing to stop
        poller.load();
        poller.load();
        keys.pressed.set();
        // All four are read first: F11 unloads the poller, yet the F12 of the same poll still runs.
        poller.poll();
        poller.unload();
        QCOMPARE(desktop.log.join(' '),
            QString("start restore monitoring restore view restore options stop restore clear"));
        QVERIFY(!poller.isLoaded());

        // A desktop without the keys: the first load says so, once, and nothing is watched.
        none.available = false;
        without.load();
        without.unload();
        without.load();
        QVERIFY(!without.isLoaded());
        QCOMPARE(bare.log, QStringList { "Hotkeys are not available on this desktop" });
    }

    // The function keys pressed through XTEST on a real X server while another program has the focus.
    void keysFireWhileAnotherProgramKeepsThem()
    {
        if (QGuiApplication::platformName() != u"xcb")
            QSKIP("Xvfb did not start");
        for (const char* tool : { "xdotool", "xev" })
            if (QStandardPaths::findExecutable(tool).isEmpty())
                QSKIP(qPrintable(QString("%1 is not installed").arg(tool)));
        // xev takes the focus and prints every key it gets.
        m_focused.start("xev", { "-name", "focused-by-test" });
        QByteArray window;
        QVERIFY(xdotool({ "search", "--sync", "--name", "focused-by-test" }, &window));
        QVERIFY(xdotool({ "windowfocus", "--sync", window.trimmed().split('\n').first() }));

        XInputKeyState keys;
        QVERIFY(keys.isAvailable());
        Desktop desktop;
        HotkeyPoller poller(keys, desktop.targets(), 300ms);
        poller.load();
        QVERIFY(xdotool({ "key", "F9" }));
        QTRY_COMPARE_WITH_TIMEOUT(desktop.log.count("monitoring"), 1, 2000);
        QTest::qWait(800); // two more polls: a press fires once
        QCOMPARE(desktop.log, (QStringList { "restore", "monitoring" }));
        QVERIFY(xdotool({ "key", "F10" }));
        QTRY_COMPARE_WITH_TIMEOUT(desktop.log.count("view"), 1, 2000);
        // Held down, a key fires at every poll (X repeats no raw presses: the keys-down-now half).
        QVERIFY(xdotool({ "keydown", "F12" }));
        QTest::qWait(1000);
        QVERIFY(xdotool({ "keyup", "F12" }));
        QVERIFY(desktop.log.count("clear") >= 2);

        poller.unload();
        desktop.log.clear();
        QVERIFY(xdotool({ "key", "F9" }));
        QTest::qWait(700);
        QVERIFY(desktop.log.isEmpty());

        // Nothing was taken from the focused program.
        QByteArray seen;
        QTRY_VERIFY_WITH_TIMEOUT(
            (seen += m_focused.readAllStandardOutput()).count("KeyPress event") >= 4, 5000);
        for (const char* key : { "F9)", "F10)", "F12)" })
            QVERIFY2(seen.contains(key), key);
    }

    void cleanupTestCase()
    {
        m_focused.kill();
        m_focused.waitForFinished(5000);
    }
};

SENTREL_X11_TEST_MAIN(TestGlobalHotkeys, QApplication)
#include "tst_GlobalHotkeys.moc"
