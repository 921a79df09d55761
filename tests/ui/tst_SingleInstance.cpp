#include "SingleInstance.h"

#include <QLocalServer>
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
    void staleSocketIsTakenOverAndALaterStartAsksForward();
};

void TestSingleInstance::staleSocketIsTakenOverAndALaterStartAsksForward()
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
    QSignalSpy asked(&next, &SingleInstance::activationRequested);
    SingleInstance after(path);
    QVERIFY(!after.claim()); // the new one is really listening, and is asked to come forward
    QTRY_COMPARE(asked.size(), 1);
}

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_SingleInstance.moc"
