#include "PosixSystemLog.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {
// A private log daemon: a socket of the given type bound at path.
struct Daemon
{
    Daemon(const QByteArray& path, int type)
        : type(type)
        , fd(::socket(AF_UNIX, type | SOCK_CLOEXEC, 0))
    {
        sockaddr_un address { AF_UNIX, {} };
        qstrncpy(address.sun_path, path.constData(), sizeof address.sun_path);
        ::unlink(path.constData());
        bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0
            && (type == SOCK_DGRAM || ::listen(fd, 4) == 0);
    }
    ~Daemon() { ::close(peer), ::close(fd); }
    // What arrived since the last call; empty when nothing did.
    QByteArray take()
    {
        if (type == SOCK_STREAM && peer < 0)
            peer = ::accept4(fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        char buffer[2048];
        const ssize_t n = ::recv(type == SOCK_STREAM ? peer : fd, buffer, sizeof buffer, MSG_DONTWAIT);
        return n > 0 ? QByteArray(buffer, n) : QByteArray();
    }

    const int type;
    const int fd;
    int peer = -1;
    bool bound = false;
};
} // namespace

class TestPosixSystemLog : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QByteArray path() const { return QFile::encodeName(m_dir.filePath("log")); }

private slots:
    // A message in the daemon's form (a stream socket gets a NUL after each). A daemon that then stops
    // reading (stalled, restarting, over its rate limit) never holds up the alarm: what it cannot take is
    // dropped and counted, and the first message it takes again carries the count, once.
    void messagesAsTheDaemonExpectsAndNeverHoldTheAlarm()
    {
        for (const auto& [type, level, priority] :
            { std::tuple { SOCK_DGRAM, SystemLog::Level::Warning, "84" },
                { SOCK_DGRAM, SystemLog::Level::Notice, "85" },
                { SOCK_STREAM, SystemLog::Level::Info, "86" } }) {
            Daemon daemon(path(), type);
            QVERIFY(daemon.bound);
            PosixSystemLog log(path());
            log.open();
            QVERIFY(log.isConnected());
            QCOMPARE(log.write(level, "event=intrusion address=192.0.2.7"), 0u);
            const QByteArray first = daemon.take(), end = type == SOCK_STREAM ? QByteArray(1, '\0') : "";
            const QRegularExpression form(
                QString("^<(\\d+)>[A-Z][a-z]{2} [ 1-3]\\d \\d\\d:\\d\\d:\\d\\d sentrel\\[%1\\]: event=intrusion "
                        "address=192\\.0\\.2\\.7$").arg(::getpid()));
            const QRegularExpressionMatch match = form.match(QString::fromLatin1(first.chopped(end.size())));
            QVERIFY2(first.endsWith(end) && match.hasMatch(), first.constData());
            QCOMPARE(match.captured(1), priority);

            // A write that waited for the daemon would never return: the test's time limit ends it.
            quint64 reported = 0;
            const QByteArray message(400, 'x'); // fills the send buffer whatever the queue length
            for (int i = 0; i < 1000; ++i)
                reported += log.write(SystemLog::Level::Warning, message);
            QCOMPARE(reported, 0u);
            QByteArray got;
            qsizetype datagrams = 0;
            const auto drain = [&] {
                for (QByteArray chunk; !(chunk = daemon.take()).isEmpty(); ++datagrams)
                    got += chunk;
                return type == SOCK_STREAM ? got.count('\0') : datagrams;
            };
            QVERIFY(drain() < 1000);
            const quint64 lost = log.write(SystemLog::Level::Info, "again");
            QCOMPARE(lost, quint64(1001 - drain()));
            QVERIFY(got.endsWith(": again" + end));
            QCOMPARE(log.write(SystemLog::Level::Info, "next"), 0u);
        }
    }

    // No daemon: messages are dropped and counted, a daemon looked for once per interval, and one that
    // restarts found again within the next message.
    void missingDaemonIsLookedForOncePerInterval()
    {
        PosixSystemLog log(path(), 300ms);
        log.open();
        QVERIFY(!log.isConnected());
        auto daemon = std::make_unique<Daemon>(path(), SOCK_DGRAM);
        QCOMPARE(log.write(SystemLog::Level::Info, "too early"), 0u);
        QVERIFY(!log.isConnected());
        QCOMPARE(daemon->take(), QByteArray());

        QTest::qWait(350);
        QCOMPARE(log.write(SystemLog::Level::Info, "first"), 1u); // reports "too early" as lost
        QVERIFY(daemon->take().endsWith(": first"));

        daemon = std::make_unique<Daemon>(path(), SOCK_DGRAM); // restarted at the same path
        QCOMPARE(log.write(SystemLog::Level::Info, "second"), 0u);
        QVERIFY(daemon->take().endsWith(": second"));

        log.close();
        QCOMPARE(log.write(SystemLog::Level::Info, "closed"), 0u);
        QCOMPARE(daemon->take(), QByteArray());
    }
};

QTEST_GUILESS_MAIN(TestPosixSystemLog)
#include "tst_PosixSystemLog.moc"
