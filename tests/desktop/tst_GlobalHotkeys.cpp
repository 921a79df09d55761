#include "HotkeyPoller.h"
#include "PortalShortcuts.h"
#include "PrivateSessionBus.h"
#include "PrivateXServer.h"
#include "RecordingDesktop.h"
#include "SessionKeyState.h"
#include "StatusReporter.h"

using namespace std::chrono_literals;

namespace {
HotkeyTargets targetsOf(RecordingDesktop& desktop)
{
    return { &desktop, &desktop, &desktop, [&desktop] { desktop.calls << "options"; }, &desktop,
        [&desktop] { desktop.calls << "clear"; } };
}

// What the tool printed, or nothing when it failed.
std::optional<QByteArray> xdotool(const QStringList& arguments)
{
    QProcess tool;
    tool.start("xdotool", arguments);
    if (tool.waitForFinished(15000) && tool.exitCode() == 0)
        return tool.readAllStandardOutput();
    return {};
}
} // namespace

class TestGlobalHotkeys : public QObject
{
    Q_OBJECT

private slots:
    // F9-F12 through XTEST on a real X server while another program has the focus (under XWayland
    // without a portal: the X11 keys, said once).
    void keysFireWhileAnotherProgramKeepsThem()
    {
        if (QGuiApplication::platformName() != u"xcb")
            QSKIP("Xvfb did not start");
        for (const char* tool : { "xdotool", "xev" })
            if (QStandardPaths::findExecutable(tool).isEmpty())
                QSKIP(qPrintable(QString("%1 is not installed").arg(tool)));
        // xev takes the focus and prints every key it gets; it ends with the test.
        QProcess focused;
        focused.start("xev", { "-name", "focused-by-test" });
        const auto window = xdotool({ "search", "--sync", "--name", "focused-by-test" });
        QVERIFY(window && xdotool({ "windowfocus", "--sync", window->trimmed().split('\n').first() }));

        PrivateSessionBus bus;
        SessionKeyState keys(
            DisplaySession::Kind::XWayland, QDBusConnection::connectToBus(bus.address(), "x"));
        RecordingDesktop desktop;
        HotkeyPoller poller(keys, targetsOf(desktop), 300ms);
        poller.load();
        QTRY_VERIFY_WITH_TIMEOUT(!desktop.calls.isEmpty(), 5000); // once the portal is found missing
        QVERIFY(xdotool({ "key", "F9" }));
        QTRY_COMPARE_WITH_TIMEOUT(desktop.calls.count("toggleMonitoring"), 1, 2000);
        QTest::qWait(800); // two more polls: a press fires once
        QCOMPARE(desktop.calls.join(", "),
            "line Hotkeys work only while an X11 window has focus, restore, toggleMonitoring");
        QVERIFY(xdotool({ "key", "F10" }));
        QTRY_COMPARE_WITH_TIMEOUT(desktop.calls.count("toggleMonitorView"), 1, 2000);
        // Held down, a key fires at every poll (X repeats no raw presses: the keys-down-now half).
        QVERIFY(xdotool({ "keydown", "F12" }));
        QTest::qWait(1000);
        QVERIFY(xdotool({ "keyup", "F12" }));
        QVERIFY(desktop.calls.count("clear") >= 2);

        poller.unload();
        desktop.calls.clear();
        QVERIFY(xdotool({ "key", "F9" }));
        QTest::qWait(700);
        QVERIFY(desktop.calls.isEmpty());

        // Nothing was taken from the focused program.
        QByteArray seen;
        QTRY_VERIFY_WITH_TIMEOUT(
            (seen += focused.readAllStandardOutput()).count("KeyPress event") >= 4, 5000);
        for (const char* key : { "F9)", "F10)", "F12)" })
            QVERIFY2(seen.contains(key), key);
        focused.kill();
        focused.waitForFinished(5000);
    }

    // The keys through a stand-in desktop portal on a private bus: bound, refused, never answered, absent.
    void portalKeysOrWhyNot_data()
    {
        QTest::addColumn<QString>("portal");
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("log");
        // Said by the poll that finds them gone, and by a later poller's first load.
        const QString unavailable = "line Hotkeys are not available on this desktop";
        const QString twice = unavailable + ' ' + unavailable;
        using State = PortalShortcuts::State;
        // All four keys of a poll are read first: F11 unloads the poller, yet the F12 of that poll runs.
        QTest::newRow("bound") << "answer" << int(State::Bound)
                               << "restore toggleMonitoring restore toggleMonitorView restore options "
                                  "restore clear";
        QTest::newRow("refused") << "refuse" << int(State::Refused) << twice;
        QTest::newRow("no answer") << "silent" << int(State::NoAnswer) << twice;
        QTest::newRow("not offered") << "" << int(State::NotOffered) << twice;
    }
    void portalKeysOrWhyNot()
    {
        QFETCH(QString, portal);
        PrivateSessionBus bus;
        QVERIFY(bus.isRunning());
        QProcess standIn;
        if (!portal.isEmpty()) {
            standIn.start("/usr/bin/python3", { STAND_IN_PORTAL, portal });
            QTRY_VERIFY_WITH_TIMEOUT(standIn.canReadLine(), 10000);
            QCOMPARE(standIn.readLine(), "ready\n");
        }
        const auto connection = QDBusConnection::connectToBus(bus.address(), QTest::currentDataTag());
        PortalShortcuts keys(connection, 400ms);
        RecordingDesktop desktop;
        HotkeyPoller poller(keys, targetsOf(desktop), 1h); // polled by hand
        poller.load();
        QTRY_VERIFY_WITH_TIMEOUT(keys.state() != PortalShortcuts::State::Binding, 5000);
        QTEST(int(keys.state()), "state");
        const auto activate = [&](const char* id) {
            QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.portal.Desktop",
                "/org/freedesktop/portal/desktop", "org.sentrel.StandIn", "Activate");
            QCOMPARE(connection.call(call << QString(id)).type(), QDBusMessage::ReplyMessage);
        };
        if (keys.state() == PortalShortcuts::State::Bound) {
            QTRY_VERIFY_WITH_TIMEOUT(standIn.canReadLine(), 10000);
            QCOMPARE(standIn.readLine(),
                "bound start-stop-monitoring=F9/Start/Stop Monitoring show-hide-monitor=F10/Show/Hide "
                "Monitor options=F11/Options clear-messages=F12/Clear Messages\n");
            HotkeyPoller(keys, targetsOf(desktop)).unload(); // never loaded: leaves the keys watched
            for (const char* id :
                { "clear-messages", "options", "show-hide-monitor", "start-stop-monitoring" })
                activate(id);
            // Loaded again before each poll until one acts: a load while loaded starts no second watch,
            // which would drop the presses waiting.
            QTRY_VERIFY_WITH_TIMEOUT(!desktop.calls.isEmpty() || (poller.load(), poller.poll(), false), 5000);
            // F11 unloaded the keys as the options dialog opened: an activation now does nothing.
            activate("start-stop-monitoring");
            QTest::qWait(200);
        }
        poller.poll();
        QVERIFY(!poller.isLoaded());
        if (keys.state() != PortalShortcuts::State::Bound) {
            HotkeyPoller later(keys, targetsOf(desktop));
            later.load();
            later.load();
            QVERIFY(!later.isLoaded());
        }
        QTEST(desktop.calls.join(' '), "log");
        standIn.kill();
        standIn.waitForFinished(5000);
    }
};

SENTREL_X11_TEST_MAIN(TestGlobalHotkeys, QApplication)
#include "tst_GlobalHotkeys.moc"
