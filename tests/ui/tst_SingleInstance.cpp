#include "SingleInstance.h"

#include <QLocalServer>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

class TestSingleInstance : public QObject
{
    Q_OBJECT

private slots:
    void staleSocketDoesNotBlock();
    void secondProgramExitsAndRestoresTheFirst();
};

void TestSingleInstance::staleSocketDoesNotBlock()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("s");
    {
        // A crashed run leaves its socket file behind, with nobody listening on it.
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, QFile::encodeName(path).constData(), sizeof(address.sun_path) - 1);
        QCOMPARE(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        ::close(fd);
    }
    QVERIFY(QFile::exists(path));
    SingleInstance next(path);
    QVERIFY(next.claim());
    SingleInstance after(path);
    QVERIFY(!after.claim()); // and the new one is really listening
}

void TestSingleInstance::secondProgramExitsAndRestoresTheFirst()
{
    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("HOME", home.path());
    env.insert("XDG_CONFIG_HOME", home.filePath("config"));
    env.insert("XDG_DATA_HOME", home.filePath("data"));
    env.insert("XDG_RUNTIME_DIR", home.path());
    QDir(home.path()).mkpath("config");
    // No listeners: nothing of this test is reachable from outside.
    QFile store(home.filePath("config/Sentrel II.ini"));
    QVERIFY(store.open(QIODevice::WriteOnly));
    store.write("[%General]\nStart=Sentrel II\nStart%20Monitoring=0\n[Display]\nWindows%20Startup=0\n"
                "Min%20On%20Startup=1\n[Sounds]\nOn=False\n");
    store.close();

    QProcess first;
    first.setProcessEnvironment(env);
    first.start(SENTREL_BINARY, {});
    QVERIFY(first.waitForStarted(5000));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(home.filePath("sentrel.socket")), 20000);

    QProcess second;
    second.setProcessEnvironment(env);
    second.start(SENTREL_BINARY, {});
    QVERIFY(second.waitForFinished(20000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(first.state(), QProcess::Running);

    first.terminate();
    QVERIFY(first.waitForFinished(10000));
    QCOMPARE(first.exitCode(), 0);
}

QTEST_MAIN(TestSingleInstance)
#include "tst_SingleInstance.moc"
