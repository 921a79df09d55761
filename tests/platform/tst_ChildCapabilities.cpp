#include "ChildCapabilities.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <condition_variable>
#include <mutex>
#include <thread>

#include <linux/capability.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// Each thread's capability lines, "CapPrm:<hex> ..." in a fixed order, one line per thread.
QStringList capabilityLines()
{
    QStringList lines;
    for (const QString& task : QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile file("/proc/self/task/" + task + "/status");
        file.open(QIODevice::ReadOnly); // unreadable: an empty line, which cannot match
        QStringList sets;
        for (const QByteArray& line : file.readAll().split('\n')) {
            if (line.startsWith("CapInh") || line.startsWith("CapPrm") || line.startsWith("CapEff")
                || line.startsWith("CapAmb"))
                sets << QString(line.simplified()).remove(' ');
        }
        lines << sets.join(' ');
    }
    return lines;
}

// Whether this thread may open a packet socket.
QString packetSocket()
{
    const int fd = ::socket(AF_PACKET, SOCK_DGRAM, 0);
    if (fd >= 0)
        ::close(fd);
    return fd >= 0 ? "opened" : errno == EPERM ? "refused" : QString("failed: %1").arg(errno);
}
} // namespace

// The main process once the watch helper has started: no thread holds more than binding ports,
// not even one started before, and none can open a packet socket. Drops the test's own
// capabilities for good, so it is a test program of its own; needs root to start with.
class TestChildCapabilities : public QObject
{
    Q_OBJECT

private slots:
    void onlyBindingLeftOnEveryThread()
    {
        if (packetSocket() != "opened")
            QSKIP("needs CAP_NET_RAW to begin with (root)");
        std::mutex lock;
        std::condition_variable wake;
        bool go = false;
        QString beside;
        std::thread other([&] {
            std::unique_lock held(lock);
            wake.wait(held, [&] { return go; });
            beside = packetSocket();
        });
        QVERIFY(keepOnlyBindCapability());
        QVERIFY(keepOnlyBindCapability()); // harmless to repeat
        {
            std::lock_guard held(lock);
            go = true;
        }
        wake.notify_one();
        other.join();
        QCOMPARE(packetSocket() + ' ' + beside, QString("refused refused"));
        const QString bindOnly
            = QString::number(CAP_TO_MASK(CAP_NET_BIND_SERVICE), 16).rightJustified(16, '0');
        const QString expected = "CapInh:0000000000000000 CapPrm:" + bindOnly + " CapEff:" + bindOnly
            + " CapAmb:0000000000000000";
        for (const QString& line : capabilityLines())
            QCOMPARE(line, expected);
    }
};

QTEST_GUILESS_MAIN(TestChildCapabilities)
#include "tst_ChildCapabilities.moc"
