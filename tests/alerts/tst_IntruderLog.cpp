#include "IntruderLog.h"
#include "IntruderRecord.h"

#include <QDir>
#include <QFile>
#include <QtTest>

// Runs under LC_ALL=C.UTF-8 and TZ=UTC, so the locale's date and time forms are known.
class TestIntruderLog : public QObject
{
    Q_OBJECT

private slots:
    void entriesAreAppendedByteForByte();
    void deletedLogIsCreatedAnew();
    void unwritableLogLosesOnlyThatEntry_data();
    void unwritableLogLosesOnlyThatEntry();

private:
    QByteArray read() const
    {
        QFile file(logPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir m_dir;
    IntruderLog m_log;
    QString logPath() const { return m_dir.filePath(IntruderLog::fileName()); }
    const QDateTime m_when { QDate(2026, 3, 4), QTime(5, 6, 7) };
};

void TestIntruderLog::entriesAreAppendedByteForByte()
{
    QVERIFY(m_log.writeLogEntry(m_dir.path(), { "10.0.0.5", 23, {} }, m_when));
    QVERIFY(m_log.writeLogEntry(m_dir.path(), { "192.168.100.200", 12345, {} }, m_when.addSecs(3600 * 13)));
    QCOMPARE(read(),
        "\r\nIntruder Information - 4 Mar 2026 05:06:07 UTC\r\nIP: 10.0.0.5\r\nAttacked Port: 23\r\nMessage: "
        "\r\n"
        "\r\nIntruder Information - 4 Mar 2026 18:06:07 UTC\r\nIP: 192.168.100.200\r\nAttacked Port: "
        "12345\r\n"
        "Message: \r\n");
}

void TestIntruderLog::deletedLogIsCreatedAnew()
{
    QVERIFY(m_log.writeLogEntry(m_dir.path(), { "10.0.0.5", 23, {} }, m_when));
    QVERIFY(QFile::remove(logPath()));
    QVERIFY(m_log.writeLogEntry(m_dir.path(), { "10.0.0.6", 80, {} }, m_when));
    QVERIFY(read().startsWith("\r\nIntruder Information - "));
    QCOMPARE(read().count("IP: "), 1);
    QVERIFY(read().contains("IP: 10.0.0.6\r\nAttacked Port: 80\r\n"));
}

void TestIntruderLog::unwritableLogLosesOnlyThatEntry_data()
{
    QTest::addColumn<bool>("fullDisk");
    QTest::newRow("not a file") << false; // a folder in its place: fails for root too
    QTest::newRow("full file system") << true; // /dev/full refuses every write with ENOSPC
}

void TestIntruderLog::unwritableLogLosesOnlyThatEntry()
{
    QFETCH(bool, fullDisk);
    QTemporaryDir dir;
    IntruderLog log;
    const QString path = dir.filePath(IntruderLog::fileName());
    if (fullDisk) {
        if (!QFile::exists("/dev/full"))
            QSKIP("no /dev/full on this system");
        QVERIFY(QFile::link("/dev/full", path));
    } else {
        QVERIFY(QDir(dir.path()).mkdir(IntruderLog::fileName()));
    }
    QVERIFY(!log.writeLogEntry(dir.path(), { "10.0.0.5", 23, {} }, m_when));

    QVERIFY(QFile::remove(path) || QDir(dir.path()).rmdir(IntruderLog::fileName()));
    QVERIFY(log.writeLogEntry(dir.path(), { "10.0.0.6", 24, {} }, m_when));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().contains("IP: 10.0.0.6\r\n"));
}

QTEST_GUILESS_MAIN(TestIntruderLog)
#include "tst_IntruderLog.moc"
