#include "GuiClipboard.h"
#include "PrivateXServer.h"

// Copies under a private X server and reads back with xclip, as a paste into another program would.
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
        for (int i = 0; i < 1000; ++i)
            clipboard.copyToClipboard(QString("Intruder IP: 10.0.%1.5 Attacked Port: 23").arg(i % 256));
        clipboard.copyToClipboard("Intruder IP: 192.168.1.7 Attacked Port: 80");
        QCOMPARE(paste("clipboard") + '|' + paste("primary"), // of a flood, only the newest is on offer
            "Intruder IP: 192.168.1.7 Attacked Port: 80|Intruder IP: 192.168.1.7 Attacked Port: 80");
        // Another program copies something; the same intrusion again must win the clipboard back.
        QProcess xclip;
        xclip.start("xclip", { "-i", "-selection", "clipboard", "-quiet" }); // stays in the foreground
        xclip.write("something else");
        xclip.closeWriteChannel();
        QTRY_COMPARE(paste("clipboard"), "something else");
        clipboard.copyToClipboard("Intruder IP: 192.168.1.7 Attacked Port: 80");
        QTRY_COMPARE(paste("clipboard"), "Intruder IP: 192.168.1.7 Attacked Port: 80");
        xclip.kill();
        xclip.waitForFinished(1000);
    }
};

SENTREL_X11_TEST_MAIN(TestGuiClipboard, QGuiApplication)

#include "tst_GuiClipboard.moc"
