#include "GuiClipboard.h"

#include <QGuiApplication>
#include <QtTest>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

// Copies under a private X server and reads back with xclip, another X client, as a paste into
// another program would.
class TestGuiClipboard : public QObject
{
    Q_OBJECT

    static QString paste(const QString& selection)
    {
        QProcess xclip;
        xclip.start("xclip", { "-o", "-selection", selection });
        QSignalSpy(&xclip, &QProcess::finished).wait(5000); // meanwhile this program answers xclip
        return QString::fromUtf8(xclip.readAllStandardOutput());
    }

private slots:
    void anotherProgramPastesTheLatestText()
    {
        if (QGuiApplication::platformName() != u"xcb" || QStandardPaths::findExecutable("xclip").isEmpty())
            QSKIP("needs Xvfb and xclip (packages xvfb, xclip)");
        GuiClipboard clipboard;
        clipboard.copyToClipboard("Intruder IP: 10.0.0.5 Attacked Port: 23");
        clipboard.copyToClipboard("Intruder IP: 192.168.1.7 Attacked Port: 80");
        QCOMPARE(paste("clipboard"), "Intruder IP: 192.168.1.7 Attacked Port: 80");
        QCOMPARE(paste("primary"), "Intruder IP: 192.168.1.7 Attacked Port: 80");
    }
};

int main(int argc, char* argv[])
{
    // The X server must run before the application object exists, so QProcess cannot start it.
    // Xvfb picks a free display and writes its number.
    int fds[2] = { -1, -1 };
    const pid_t xvfb = ::pipe(fds) == 0 ? ::fork() : -1;
    if (xvfb == 0) {
        ::dup2(fds[1], 1);
        ::execlp(
            "Xvfb", "Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "640x480x24", nullptr);
        ::_exit(127);
    }
    ::close(fds[1]);
    char display[32] = { ':' };
    if (::read(fds[0], display + 1, sizeof display - 2) > 0) {
        qputenv("DISPLAY", QByteArray(display).trimmed());
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    ::close(fds[0]);
    QGuiApplication app(argc, argv);
    TestGuiClipboard test;
    const int result = QTest::qExec(&test, argc, argv);
    if (xvfb > 0 && ::kill(xvfb, SIGTERM) == 0)
        ::waitpid(xvfb, nullptr, 0);
    return result;
}

#include "tst_GuiClipboard.moc"
