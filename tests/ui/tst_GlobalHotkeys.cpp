#include "FrmHotkeys.h"
#include "PrivateXServer.h"
#include "RecordingDesktop.h"
#include "XInputKeyState.h"

#include <QApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

using namespace std::chrono_literals;

// The function keys on a real X server, pressed through XTEST as a user's keyboard would, while
// another program has the keyboard focus.
class TestGlobalHotkeys : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void keysFireWhileAnotherProgramKeepsThem();
    void cleanupTestCase();

private:
    bool xdotool(const QStringList& arguments, QByteArray* out = nullptr);

    QProcess m_focused;
    QByteArray m_focusedOutput;
};

void TestGlobalHotkeys::initTestCase()
{
    if (QGuiApplication::platformName() != u"xcb")
        QSKIP("Xvfb did not start");
    for (const char* tool : { "xdotool", "xev" }) {
        if (QStandardPaths::findExecutable(tool).isEmpty())
            QSKIP(qPrintable(QString("%1 is not installed").arg(tool)));
    }
    // xev takes the focus and prints every key it gets.
    m_focused.start("xev", { "-name", "focused-by-test" });
    QVERIFY(m_focused.waitForStarted(5000));
    QByteArray window;
    QVERIFY(xdotool({ "search", "--sync", "--name", "focused-by-test" }, &window));
    QVERIFY(xdotool({ "windowfocus", "--sync", window.trimmed().split('\n').first() }));
}

void TestGlobalHotkeys::cleanupTestCase()
{
    if (m_focused.state() != QProcess::NotRunning) {
        m_focused.kill();
        m_focused.waitForFinished(5000);
    }
}

bool TestGlobalHotkeys::xdotool(const QStringList& arguments, QByteArray* out)
{
    QProcess tool;
    tool.start("xdotool", arguments);
    const bool ok = tool.waitForFinished(15000) && tool.exitCode() == 0;
    if (out)
        *out = tool.readAllStandardOutput();
    return ok;
}

void TestGlobalHotkeys::keysFireWhileAnotherProgramKeepsThem()
{
    XInputKeyState keys;
    QVERIFY(keys.isAvailable());
    RecordingDesktop desktop;
    FrmHotkeys poller(keys,
        HotkeyTargets { &desktop, &desktop, &desktop, &desktop, &desktop, [&] { desktop.log << "clear"; } },
        300ms);
    poller.load();

    QVERIFY(xdotool({ "key", "F9" }));
    QTRY_COMPARE_WITH_TIMEOUT(desktop.log.count("monitoring"), 1, 2000);
    QTest::qWait(800); // two more polls: a press fires once
    QCOMPARE(desktop.log, (QStringList { "restore", "monitoring" }));

    QVERIFY(xdotool({ "key", "F10" }));
    QTRY_COMPARE_WITH_TIMEOUT(desktop.log.count("view"), 1, 2000);

    // Held down, a key fires at every poll; X sends no repeated raw presses, so this is the
    // keys-down-now half of the answer.
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
    QTRY_VERIFY_WITH_TIMEOUT(
        (m_focusedOutput += m_focused.readAllStandardOutput()).count("KeyPress event") >= 4, 5000);
    for (const char* key : { "F9)", "F10)", "F12)" })
        QVERIFY2(m_focusedOutput.contains(key), key);
}

SENTREL_X11_TEST_MAIN(TestGlobalHotkeys, QApplication)
#include "tst_GlobalHotkeys.moc"
