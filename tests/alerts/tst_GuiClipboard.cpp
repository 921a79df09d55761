#include "GuiClipboard.h"
#include "XvfbServer.h"

#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

// Copies under a private X server and reads back with xclip, another X client, as a paste into
// another program would.
class TestGuiClipboard : public QObject
{
    Q_OBJECT

public:
    explicit TestGuiClipboard(bool hasX)
        : m_hasX(hasX)
    {
    }

private slots:
    void initTestCase();
    void anotherProgramPastesTheLatestText();

private:
    static QString paste(const QString& selection)
    {
        QProcess xclip;
        xclip.start("xclip", { "-o", "-selection", selection });
        // The event loop must run meanwhile: this program answers xclip's request.
        QSignalSpy finished(&xclip, &QProcess::finished);
        finished.wait(5000);
        return QString::fromUtf8(xclip.readAllStandardOutput());
    }

    bool m_hasX;
};

void TestGuiClipboard::initTestCase()
{
    if (!m_hasX)
        QSKIP("Xvfb (package xvfb) is not installed");
    if (QStandardPaths::findExecutable("xclip").isEmpty())
        QSKIP("xclip is not installed");
}

void TestGuiClipboard::anotherProgramPastesTheLatestText()
{
    GuiClipboard clipboard;
    clipboard.copyToClipboard("Intruder IP: 10.0.0.5 Attacked Port: 23");
    clipboard.copyToClipboard("Intruder IP: 192.168.1.7 Attacked Port: 80");
    QCOMPARE(paste("clipboard"), "Intruder IP: 192.168.1.7 Attacked Port: 80");
    QCOMPARE(paste("primary"), "Intruder IP: 192.168.1.7 Attacked Port: 80");
}

int main(int argc, char* argv[])
{
    const XvfbServer server;
    if (!server.display().isEmpty()) {
        qputenv("DISPLAY", server.display());
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    QGuiApplication app(argc, argv);
    TestGuiClipboard test(!server.display().isEmpty());
    return QTest::qExec(&test, argc, argv);
}

#include "tst_GuiClipboard.moc"
