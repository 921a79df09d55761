#include "IntruderLog.h"
#include "IntruderRecord.h"

#include <QDateTime>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

// Runs under LC_ALL=C.UTF-8 and TZ=UTC, so the locale's date and time forms in the log are known.
class TestIntruderLog : public QObject
{
    Q_OBJECT

    QByteArray read() const
    {
        QFile file(m_dir->filePath("Log.txt"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<none>");
    }
    // Entry i: a distinct address and port, one second apart.
    static IntruderRecord intruder(int i) { return { QStringLiteral("10.0.0.%1").arg(i), 20 + i, {} }; }
    static qint64 when(int i)
    {
        return QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7)).toMSecsSinceEpoch() + 1000 * i;
    }
    void queue(IntruderLog& log, int from, int to, const QString& folder = {})
    {
        for (int i = from; i < to; ++i)
            log.writeLogEntry(folder.isEmpty() ? m_dir->path() : folder, intruder(i), when(i));
    }
    QByteArray entries(IntruderLog& log, int from, int to)
    {
        QByteArray all;
        for (int i = from; i < to; ++i)
            all += log.entry(intruder(i), when(i));
        return all;
    }

    std::unique_ptr<QTemporaryDir> m_dir;

private slots:
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }

    void entryFormat()
    {
        IntruderLog log;
        QCOMPARE(log.entry({ "192.168.100.200", 12345, {} }, when(13 * 3600)),
            QByteArray("\r\nIntruder Information - 4 Mar 2026 18:06:07 UTC\r\nIP: 192.168.100.200\r\n"
                       "Attacked Port: 12345\r\nMessage: \r\n"));
        QCOMPARE(log.entry({ "fe80::1", 21, QString::fromUtf8("h\xc3\xa9") }, when(0)).right(14),
            QByteArray("Message: h\xc3\xa9\r\n"));
    }

    // Entries wait for the end of the pass, keep their order across passes, a log deleted between
    // two passes (Purge, or by hand) is started anew with the later entries only, and nothing
    // queued is lost when the log goes away.
    void batchesKeepOrderAndADeletedLogStartsAnew()
    {
        IntruderLog log;
        queue(log, 0, 3);
        QCOMPARE(read(), QByteArray("<none>"));
        QTRY_COMPARE_WITH_TIMEOUT(read(), entries(log, 0, 3), 2000);
        queue(log, 3, 5);
        QTRY_COMPARE_WITH_TIMEOUT(read(), entries(log, 0, 5), 2000);

        QVERIFY(QFile::remove(m_dir->filePath("Log.txt")));
        queue(log, 5, 7);
        QVERIFY(log.flush());
        QCOMPARE(read(), entries(log, 5, 7));

        // Purge takes the queued entries with the file, as if they had reached it first.
        queue(log, 7, 9);
        QVERIFY(log.purge(m_dir->path()));
        QVERIFY(!log.hasPending());
        queue(log, 9, 10);
        QVERIFY(log.flush());
        QCOMPARE(read(), entries(log, 9, 10));

        // A log that goes away writes what still waits.
        std::make_unique<IntruderLog>()->writeLogEntry(m_dir->path(), intruder(10), when(10));
        QCOMPARE(read(), entries(log, 9, 11));
    }

    // A pass that never returns to the event loop still writes within the bound, and a flood
    // writes in large pieces rather than holding everything.
    void longPassesAndFloodsAreWrittenWithoutWaitingForTheLoop()
    {
        IntruderLog log;
        queue(log, 0, 1);
        QTest::qSleep(IntruderLog::MaxDelayMs + 10);
        queue(log, 1, 2);
        QCOMPARE(read(), entries(log, 0, 2));

        const int flood = int(IntruderLog::MaxPendingBytes / entries(log, 0, 1).size()) + 100;
        queue(log, 2, 2 + flood);
        QVERIFY(read().size() >= entries(log, 0, 2 + flood).size() - IntruderLog::MaxPendingBytes);
        QVERIFY(log.hasPending());
        log.flush();
        QCOMPARE(read(), entries(log, 0, 2 + flood));
    }

    // A write the file system refuses loses what could not be written, nothing before it, and
    // later entries are written again once the cause is gone.
    void failedAndPartialWritesLoseOnlyWhatCouldNotBeWritten()
    {
        IntruderLog log;
        const QString missing = m_dir->filePath("gone");
        queue(log, 0, 2, missing);
        QVERIFY(!log.flush());
        QVERIFY(QDir(m_dir->path()).mkdir("gone"));
        queue(log, 2, 3, missing);
        QVERIFY(log.flush());
        QFile file(missing + "/Log.txt");
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), entries(log, 2, 3));

        // A size limit cuts a batch in the middle of an entry: the file keeps what fitted.
        const QByteArray whole = entries(log, 0, 2);
        queue(log, 0, 2);
        QVERIFY(log.flush());
        rlimit previous {};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &previous) == 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = previous;
        small.rlim_cur = rlim_t(whole.size() + 30);
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &small) == 0);
        queue(log, 2, 4);
        const bool written = log.flush();
        ::setrlimit(RLIMIT_FSIZE, &previous);
        std::signal(SIGXFSZ, oldHandler);
        QVERIFY(!written);
        QCOMPARE(read(), whole + entries(log, 2, 4).left(30));
        queue(log, 4, 5);
        QVERIFY(log.flush());
        QCOMPARE(read(), whole + entries(log, 2, 4).left(30) + entries(log, 4, 5));
    }
};

QTEST_GUILESS_MAIN(TestIntruderLog)
#include "tst_IntruderLog.moc"
