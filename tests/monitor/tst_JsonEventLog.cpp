#include "JsonEventLog.h"
#include "Recorder.h"
#include "TestFiles.h"

namespace {
QByteArray line(int n)
{
    return QByteArray("{\"seq\":") + QByteArray::number(n).rightJustified(4, '0') + ",\"pad\":\""
        + QByteArray(78, 'x') + "\"}\n"; // 100 bytes
}
} // namespace

class TestJsonEventLog : public QObject
{
    Q_OBJECT

private slots:
    // 1,000 bytes a file, 100 bytes a line: 60 lines fill six files. The newest lines are in
    // events.jsonl, older ones in .1, .2 ..., the oldest beyond the kept count are gone, and every
    // file holds whole lines in order with nothing lost in between, however many lines a pass brings.
    void rotatesAtSizeKeepingFiles()
    {
        // Older files kept, lines a pass brings, and the lines all files hold: a file fills up to its size.
        for (const auto& [kept, perPass, lines] : { std::tuple { 5, 1, 60 }, { 2, 3, 24 }, { 0, 1, 10 } }) {
            QTemporaryDir dir;
            Recorder status;
            JsonEventLog log(status);
            log.open(dir.path(), 1000, kept);
            for (int n = 1; n <= 60; ++n) {
                log.append(line(n), quint64(n));
                if (n % perPass == 0)
                    log.flush();
            }
            log.flush();
            QCOMPARE(log.writtenThrough(), 60u);
            const QString path = dir.filePath(JsonEventLog::fileName());
            QVERIFY2(
                !QFile::exists(path + '.' + QString::number(kept + 1)), qPrintable(QString::number(kept)));
            QByteArray all;
            for (int i = kept; i >= 0; --i) {
                const QByteArray bytes = fileBytes(i == 0 ? path : path + '.' + QString::number(i));
                QVERIFY2(bytes.size() <= 1000 && bytes.size() >= 100 * perPass && bytes.endsWith('\n'),
                    qPrintable(QString("kept %1, file %2").arg(kept).arg(i)));
                all += bytes;
            }
            QByteArray expected;
            for (int n = 61 - lines; n <= 60; ++n)
                expected += line(n);
            QCOMPARE(all, expected);
            QVERIFY(status.lines().isEmpty());
        }
    }

    // /dev/full fails every write with "no space left", as a full file system does. Lines appended in
    // one pass of the event loop reach the file together once the loop turns; a log deleted between
    // passes is started anew.
    void failingWritesLoseOnlyTheirLinesAndReportOnce()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(JsonEventLog::fileName());
        QVERIFY(QFile::link("/dev/full", path));
        Recorder status;
        JsonEventLog log(status);
        log.open(dir.path(), 1 << 20, 5);
        for (int n = 1; n <= 5; ++n)
            log.append(line(n), quint64(n));
        log.flush();
        log.append(line(6), 6);
        log.flush();
        QCOMPARE(std::pair(log.lostTotal(), log.writtenThrough()), std::pair(quint64(6), quint64(0)));
        QVERIFY(status.lines().isEmpty()); // nothing is said while writing still fails

        QVERIFY(QFile::remove(path)); // space again
        log.append(line(7), 7);
        log.append(line(8), 8);
        QCOMPARE(fileBytes(path), QByteArray());
        QTRY_COMPARE(fileBytes(path), line(7) + line(8));
        log.append(line(9), 9);
        QTRY_COMPARE(fileBytes(path), line(7) + line(8) + line(9));
        QVERIFY(QFile::remove(path));
        log.append(line(10), 10);
        QTRY_COMPARE(fileBytes(path), line(10));
        QCOMPARE(std::pair(log.lostTotal(), log.writtenThrough()), std::pair(quint64(6), quint64(10)));
        QCOMPARE(status.lines(), QStringList { "Event log: 6 events could not be written to events.jsonl" });
    }
};

QTEST_GUILESS_MAIN(TestJsonEventLog)
#include "tst_JsonEventLog.moc"
