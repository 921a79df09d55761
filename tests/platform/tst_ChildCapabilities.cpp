#include "ChildCapabilities.h"
#include "TestFiles.h"

#include <future>
#include <thread>

#include <linux/capability.h>
#include <sys/socket.h>
#include <unistd.h>

// The main process once the watch helper has started: no thread holds more than binding ports,
// not even one started before. Drops the test's own capabilities for good, so it is a test program
// of its own; needs root to start with.
class TestChildCapabilities : public QObject
{
    Q_OBJECT

private slots:
    void onlyBindingLeftOnEveryThread()
    {
        const int packet = ::socket(AF_PACKET, SOCK_DGRAM, 0);
        if (packet < 0)
            QSKIP("needs CAP_NET_RAW to begin with (root)");
        ::close(packet);
        std::promise<void> done;
        std::thread other([finished = done.get_future()] { finished.wait(); });
        QVERIFY(keepOnlyBindCapability());
        QVERIFY(keepOnlyBindCapability()); // harmless to repeat
        // Each thread's sets as "CapInh:<hex> CapPrm:<hex> CapEff:<hex> CapAmb:<hex>".
        QStringList threads;
        static const QRegularExpression set(
            "^(Cap(Inh|Prm|Eff|Amb):)\\s*(\\w+)$", QRegularExpression::MultilineOption);
        for (const QString& task : QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QStringList sets;
            for (const QRegularExpressionMatch& m :
                set.globalMatch(fileBytes("/proc/self/task/" + task + "/status")))
                sets << m.captured(1) + m.captured(3);
            threads << sets.join(' ');
        }
        done.set_value();
        other.join();
        const QString bindOnly
            = QString::number(CAP_TO_MASK(CAP_NET_BIND_SERVICE), 16).rightJustified(16, '0');
        const QString expected = "CapInh:0000000000000000 CapPrm:" + bindOnly + " CapEff:" + bindOnly
            + " CapAmb:0000000000000000";
        QVERIFY(threads.size() >= 2);
        for (const QString& line : threads)
            QCOMPARE(line, expected);
    }
};

QTEST_GUILESS_MAIN(TestChildCapabilities)
#include "tst_ChildCapabilities.moc"
