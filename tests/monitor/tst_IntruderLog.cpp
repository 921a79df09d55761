#include "IntruderLog.h"
#include "IntruderRecord.h"
#include "Recorder.h"
#include "TestFiles.h"

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

const QString LossLine = "Intruder log: %1 entries could not be written to Log.txt";

// Runs under LC_ALL=C.UTF-8 and TZ=UTC, so the locale's date and time forms in the log are known.
class TestIntruderLog : public QObject
{
    Q_OBJECT

    QByteArray read(const QString& folder = {}) const
    {
        return fileBytes(QDir(folder.isEmpty() ? m_dir->path() : folder).filePath("Log.txt"));
    }
    // Entry i: a distinct address and port, one second apart.
    static IntruderRecord intruder(int i) { return { QStringLiteral("10.0.0.%1").arg(i), 20 + i, {} }; }
    static qint64 when(int i) { return QDateTime({ 2026, 3, 4 }, { 5, 6, 7 }).toMSecsSinceEpoch() + 1000 * i; }
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

    // Entries wait for the end of the pass, in order; a log deleted (Purge, by hand) starts anew; nothing
    // queued is lost with the object; a refused write loses only its entries, said in one line later.
    void entriesKeepOrderAndOnlyWhatCouldNotBeWrittenIsLost()
    {
        Recorder status;
        IntruderLog log;
        log.reportLossesTo(&status);
        QCOMPARE(log.entry({ "192.168.100.200", 12345, {} }, when(13 * 3600)),
            QByteArray("\r\nIntruder Information - 4 Mar 2026 18:06:07 UTC\r\nIP: 192.168.100.200\r\n"
                       "Attacked Port: 12345\r\nMessage: \r\n"));
        queue(log, 0, 3);
        QVERIFY(!QFile::exists(m_dir->filePath("Log.txt")));
        QTRY_COMPARE_WITH_TIMEOUT(read(), entries(log, 0, 3), 2000);
        queue(log, 3, 5);
        QTRY_COMPARE_WITH_TIMEOUT(read(), entries(log, 0, 5), 2000);
        QVERIFY(QFile::remove(m_dir->filePath("Log.txt")));
        queue(log, 5, 7);
        QVERIFY(log.flush());
        QCOMPARE(read(), entries(log, 5, 7));
        // A log replaced under its name, or opened up to others since, is written as the name holds it now,
        // and private again.
        const QString path = m_dir->filePath("Log.txt");
        QVERIFY(QFile::rename(path, path + ".old") && writeFile(path, "x"));
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner));
        queue(log, 7, 8);
        QVERIFY(log.flush());
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
        queue(log, 8, 9);
        QVERIFY(log.flush());
        QCOMPARE(read(), "x" + entries(log, 7, 9));
        QCOMPARE(fileBytes(path + ".old"), entries(log, 5, 7));
        struct stat named {};
        QVERIFY(::stat(QFile::encodeName(path).constData(), &named) == 0 && (named.st_mode & 0777) == 0600);
        queue(log, 7, 9); // Purge takes the queued entries with the file, as if they had reached it first
        QVERIFY(log.purge(m_dir->path()));
        QVERIFY(!log.hasPending());
        queue(log, 9, 10);
        QVERIFY(log.flush());
        QCOMPARE(read(), entries(log, 9, 10));
        std::make_unique<IntruderLog>()->writeLogEntry(m_dir->path(), intruder(10), when(10));
        QCOMPARE(read(), entries(log, 9, 11));
        QCOMPARE(status.lines(), QStringList());

        const QString missing = m_dir->filePath("gone");
        queue(log, 0, 1, missing); // a single lost entry counts as well as several
        QVERIFY(!log.flush());
        queue(log, 0, 2, missing);
        QVERIFY(!log.flush());
        QVERIFY(QDir(m_dir->path()).mkdir("gone"));
        queue(log, 2, 3, missing);
        QVERIFY(log.flush());
        queue(log, 3, 4, missing);
        QVERIFY(log.flush());
        QCOMPARE(read(missing), entries(log, 2, 4));
        QCOMPARE(status.lines(), QStringList { LossLine.arg(3) });
    }

    // A pass that never returns to the loop still writes within the bound; a flood writes in large pieces.
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

    // A full disk keeps whole entries only: part of one would run into every entry after it. On a small
    // file system in a mount namespace of the test's own.
    void fullDiskKeepsWholeEntries()
    {
        if (::geteuid() != 0)
            QSKIP("mounting a small file system needs root");
        QVERIFY(QDir(m_dir->path()).mkdir("small"));
        const QString folder = m_dir->filePath("small");
        const QByteArray path = QFile::encodeName(folder);
        QVERIFY(
            ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0);
        QVERIFY(::mount("tmpfs", path.constData(), "tmpfs", 0, "size=16k") == 0);
        const auto unmount = qScopeGuard([&] { ::umount2(path.constData(), MNT_DETACH); });
        QVERIFY(writeFile(folder + "/filler", QByteArray(4096, '.'))); // to free room later

        Recorder status;
        IntruderLog log;
        log.reportLossesTo(&status);
        queue(log, 0, 250, folder);
        QVERIFY(!log.flush());
        const QByteArray kept = read(folder);
        int whole = 0;
        while (entries(log, 0, whole + 1).size() <= kept.size())
            ++whole;
        QCOMPARE(kept, entries(log, 0, whole));
        QVERIFY(whole > 0 && whole < 250);
        QCOMPARE(status.lines(), QStringList());

        QVERIFY(QFile::remove(folder + "/filler"));
        queue(log, 250, 251, folder);
        QVERIFY(log.flush());
        QCOMPARE(read(folder), entries(log, 0, whole) + entries(log, 250, 251));
        QCOMPARE(status.lines(), QStringList { LossLine.arg(250 - whole) });
    }
};

QTEST_GUILESS_MAIN(TestIntruderLog)
#include "tst_IntruderLog.moc"
