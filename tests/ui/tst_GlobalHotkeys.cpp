#include "FrmHotkeys.h"
#include "RecordingDesktop.h"
#include "XInputKeyState.h"

#include <QApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

#include <csignal>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
using namespace std::chrono_literals;

// A private X server for this test alone; the display number comes back through a pipe once the
// server accepts clients.
class PrivateXServer
{
public:
    bool start(QString* why)
    {
        int fds[2];
        if (pipe(fds) != 0)
            return fail(why, "no pipe");
        m_pid = fork();
        if (m_pid == 0) {
            ::close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", "-screen", "0", "800x600x24",
                nullptr);
            _exit(127);
        }
        ::close(fds[1]);
        QByteArray number;
        pollfd reader { fds[0], POLLIN, 0 };
        char c = 0;
        while (poll(&reader, 1, 15000) > 0 && ::read(fds[0], &c, 1) == 1 && c != '\n')
            number += c;
        ::close(fds[0]);
        if (m_pid < 0 || number.isEmpty())
            return fail(why, "Xvfb did not start");
        m_display = ":" + number;
        return true;
    }
    ~PrivateXServer()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    QByteArray display() const { return m_display; }

private:
    static bool fail(QString* why, const char* text)
    {
        *why = QString::fromLatin1(text);
        return false;
    }
    pid_t m_pid = -1;
    QByteArray m_display;
};

QString g_skipReason;
} // namespace

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
    if (!g_skipReason.isEmpty())
        QSKIP(qPrintable(g_skipReason));
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

int main(int argc, char** argv)
{
    PrivateXServer server;
    if (server.start(&g_skipReason)) {
        qputenv("DISPLAY", server.display());
        qputenv("QT_QPA_PLATFORM", "xcb");
    } else {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    TestGlobalHotkeys test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_GlobalHotkeys.moc"
