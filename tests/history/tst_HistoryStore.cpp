#include "HistoryKinds.h"
#include "HistoryRecorder.h"
#include "HistoryStore.h"
#include "HistoryWriter.h"
#include "StatusReporter.h"
#include "TestFiles.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QtTest>

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using Kind = Event::Kind;
using Detection = Event::Detection;

namespace {
constexpr qint64 T0 = 1'800'000'000'000; // a time in 2027
constexpr qint64 Day = 86'400'000;

HistoryEntry entry(Kind kind, qint64 seconds, const char* address = "", int port = 0, quint64 incident = 0,
    Detection detection = Detection::Connect, qint64 probes = 1)
{
    HistoryEntry e;
    e.kind = kind;
    e.time = T0 + seconds * 1000;
    e.address = QString::fromLatin1(address);
    e.port = port;
    e.incident = incident;
    e.detection = detection;
    e.probes = probes;
    return e;
}

// Every row the statement gives, its columns joined by "|".
QStringList rows(const QString& path, const QString& statement)
{
    QStringList out;
    {
        QSqlDatabase database = QSqlDatabase::addDatabase("QSQLITE", "check");
        database.setDatabaseName(path);
        database.open();
        QSqlQuery query(database);
        query.exec(statement);
        while (query.next()) {
            QStringList columns;
            for (int i = 0; i < query.record().count(); ++i)
                columns << query.value(i).toString();
            out << columns.join('|');
        }
    }
    QSqlDatabase::removeDatabase("check");
    return out;
}

struct Lines : StatusReporter
{
    void addStatusLine(const QString& text) override { lines << text; }
    void setStatusText(const QString&) override { }
    QStringList lines;
};
} // namespace

Q_DECLARE_METATYPE(HistoryBatch)

class TestHistoryStore : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    qint64 m_now = T0 + Day;
    QStringList m_lines;

    std::unique_ptr<HistoryWriter> writer(const QString& folder, qint64 importBefore = 0)
    {
        auto made = std::make_unique<HistoryWriter>(folder, [this] { return m_now; });
        connect(
            made.get(), &HistoryWriter::statusLine, this, [this](const QString& line) { m_lines << line; });
        made->open(importBefore);
        return made;
    }
    QString path() const { return m_dir->filePath("history.sqlite"); }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_now = T0 + Day;
        m_lines.clear();
    }

    // Each case twice: as one batch and one entry a batch, which must not differ.
    void folding_data()
    {
        QTest::addColumn<HistoryBatch>("entries");
        QTest::addColumn<QStringList>("incidents"); // count|kinds|state|spoofable|sources|ports
        QTest::addColumn<QString>(
            "totals"); // probes in sources|probes in hourly|incident_ports|sources' span
        const auto connect = HistoryKinds::of(Detection::Connect);
        const auto udp = HistoryKinds::of(Detection::Udp);
        const auto halfOpen = HistoryKinds::of(Detection::HalfOpen);
        const QString c = QString::number(connect);
        QTest::newRow("an incident's probes, its scan")
            << HistoryBatch { entry(Kind::Intrusion, 0, "192.0.2.1", 21, 1),
                   entry(Kind::Intrusion, 1, "192.0.2.1", 161, 1, Detection::Udp),
                   entry(Kind::Intrusion, 2, "192.0.2.1", 21, 1), entry(Kind::PortScan, 5, "192.0.2.1", 0, 1),
                   entry(Kind::IncidentEnded, 70, "192.0.2.1", 0, 1) }
            << QStringList { QString("3|%1|0|0|1|21,161/udp").arg(connect | udp | HistoryKinds::PortScan) }
            << "3|3|2|2000";
        QTest::newRow("ids start again with the program")
            << HistoryBatch { entry(Kind::Intrusion, 0, "2001:db8::1", 23, 1, Detection::HalfOpen),
                   entry(Kind::ProgramStarted, 5), entry(Kind::Intrusion, 6, "2001:db8::1", 23, 1) }
            << QStringList { QString("1|%1|0|1|1|23").arg(halfOpen), "1|" + c + "|0|0|1|23" } << "2|2|2|6000";
        QTest::newRow("no id: a source's probes within the gap")
            << HistoryBatch { entry(Kind::Intrusion, 0, "198.51.100.7", 80),
                   entry(Kind::Intrusion, 59, "198.51.100.7", 80),
                   entry(Kind::Intrusion, 200, "198.51.100.7", 80) }
            << QStringList { "2|" + c + "|0|0|1|80", "1|" + c + "|0|0|1|80" } << "3|3|2|200000";
        QTest::newRow("allowed, per source within the gap")
            << HistoryBatch { entry(Kind::Allowed, 0, "203.0.113.5", 22),
                   entry(Kind::Allowed, 30, "203.0.113.5", 25), entry(Kind::Allowed, 100, "203.0.113.5", 22) }
            << QStringList { "2|" + c + "|2|0|1|22,25", "1|" + c + "|2|0|1|22" } << "||3|";
        QTest::newRow("blocked marks the latest incident")
            << HistoryBatch { entry(Kind::Intrusion, 0, "192.0.2.9", 21, 1),
                   entry(Kind::IncidentEnded, 61, "192.0.2.9", 0, 1),
                   entry(Kind::Allowed, 61, "192.0.2.9", 22), entry(Kind::Blocked, 62, "192.0.2.9"),
                   entry(Kind::Intrusion, 100, "192.0.2.9", 21, 2),
                   entry(Kind::Intrusion, 100, "192.0.2.8", 21, 3), entry(Kind::Blocked, 101, "192.0.2.9") }
            << QStringList { "1|" + c + "|1|0|1|21", "1|" + c + "|2|0|1|22", "1|" + c + "|1|0|1|21",
                   "1|" + c + "|0|0|1|21" }
            << "3|3|4|100000";
        HistoryBatch flood; // a million forged probes, a thousand a second, then a pause
        for (int second = 0; second < 1000; ++second) {
            flood.push_back(entry(
                Kind::Flood, second, second % 2 ? "192.0.2.77" : "2001:db8::9", 53, 0, Detection::Udp, 1000));
            flood.back().sources = 900;
        }
        flood.push_back(entry(Kind::Flood, 1000, "192.0.2.1", 80, 0, Detection::HalfOpen, 5));
        flood.push_back(entry(Kind::Flood, 1100, "192.0.2.1", 53, 0, Detection::Udp, 7));
        QTest::newRow("floods, per kind within the gap")
            << flood
            << QStringList { QString("1000000|%1|0|1|900000|53/udp").arg(HistoryKinds::Flood | udp),
                   QString("5|%1|0|1|1|80").arg(HistoryKinds::Flood | halfOpen),
                   QString("7|%1|0|1|1|53/udp").arg(HistoryKinds::Flood | udp) }
            << "|1000012|3|";
    }
    void folding()
    {
        QFETCH(HistoryBatch, entries);
        QFETCH(QStringList, incidents);
        QFETCH(QString, totals);
        for (const bool oneBatch : { true, false }) {
            init();
            auto store = writer(m_dir->path());
            if (oneBatch)
                store->write(entries);
            for (const HistoryEntry& e : oneBatch ? HistoryBatch() : entries)
                store->write({ e });
            QCOMPARE(rows(path(),
                         "SELECT count, kinds, state, spoofable, sources, ports FROM incidents ORDER BY id"),
                incidents);
            QCOMPARE(
                rows(path(),
                    "SELECT (SELECT sum(count) FROM sources), (SELECT sum(count) FROM hourly),"
                    " (SELECT count(*) FROM incident_ports), (SELECT max(last) - min(first) FROM sources)")
                    .value(0),
                totals);
        }
    }

    // Days prune by an incident's last probe; size prunes the oldest until the pages fit.
    void retention_data()
    {
        QTest::addColumn<int>("days");
        QTest::addColumn<int>("sizeMb");
        QTest::addColumn<int>("kept");
        QTest::newRow("days") << 30 << 200 << 12000 - 2880;
        QTest::newRow("size") << 365 << 1 << -1;
    }
    void retention()
    {
        QFETCH(int, days);
        QFETCH(int, sizeMb);
        QFETCH(int, kept);
        m_now = T0 + 40 * Day;
        auto store = writer(m_dir->path());
        HistoryBatch batch; // one incident a source, twelve sources an hour, days 0 to 41
        for (int i = 0; i < 12000; ++i)
            batch.push_back(entry(Kind::Intrusion, i * 300,
                qPrintable(QString("10.0.%1.%2").arg(i / 250).arg(i % 250)), 21 + i % 5, quint64(i + 1)));
        store->write(batch);
        QCOMPARE(store->prune(), 0);
        store->setLimits({ days, sizeMb, std::chrono::seconds(60) });
        const QStringList left = rows(path(),
            "SELECT count(*), min(id), max(id), (SELECT value FROM meta WHERE key = 'pruned'),"
            " (SELECT count(*) FROM sources), (SELECT page_count * page_size FROM pragma_page_count, "
            "pragma_page_size)"
            " FROM incidents")
                                     .value(0)
                                     .split('|');
        const int remaining = left[0].toInt();
        // The newest stays, the oldest went first; what went is counted, and its sources with it.
        QCOMPARE(left.mid(1, 4).join('|'),
            QString("%1|12000|%2|%3").arg(12001 - remaining).arg(12000 - remaining).arg(remaining));
        QCOMPARE(store->stats().pruned, quint64(12000 - remaining));
        if (kept >= 0)
            QCOMPARE(remaining, kept);
        else
            QVERIFY2(remaining > 1000 && remaining < 12000 && left[5].toInt() <= 1024 * 1024,
                qPrintable(left.join(' ')));
        QCOMPARE(m_lines.size(), 1);
    }

    // Oldest file first, the ids restarting at each program start, a cut last line skipped, this
    // run's lines left to the live feed; once only.
    void import()
    {
        const auto line = [](const char* time, const char* event, const char* more) {
            return QByteArray("{\"time\":\"") + time + "\",\"seq\":1,\"event\":\"" + event
                + "\",\"host\":\"h\"" + more + "}\n";
        };
        const QByteArray start
            = line("2027-01-15T08:00:00.000+01:00", "program_started", ",\"version\":\"1\"");
        const auto probe = [&](const char* time, int incident) {
            return line(time, "intrusion",
                qPrintable(QString(
                    ",\"address\":\"192.0.2.1\",\"port\":21,\"incident\":%1,\"detection\":\"connect\"")
                               .arg(incident)));
        };
        QVERIFY(
            writeFile(m_dir->filePath("events.jsonl.2"), start + probe("2027-01-15T08:00:01.000+01:00", 1)));
        QVERIFY(
            writeFile(m_dir->filePath("events.jsonl.1"), probe("2027-01-15T08:00:02.000+01:00", 1) + start));
        QVERIFY(writeFile(m_dir->filePath("events.jsonl"),
            probe("2027-01-15T08:00:03.000+01:00", 1) + probe("2027-01-15T09:00:00.000+01:00", 2)
                + probe("2027-01-15T08:00:04.000+01:00", 2).left(40)));
        const qint64 before
            = QDateTime::fromString("2027-01-15T08:30:00.000+01:00", Qt::ISODateWithMs).toMSecsSinceEpoch();
        for (int run = 0; run < 2; ++run)
            writer(m_dir->path(), before);
        QCOMPARE(rows(path(), "SELECT count, first, utc_offset FROM incidents ORDER BY id"),
            (QStringList {
                QString("2|%1|3600").arg(before - 1799000), QString("1|%1|3600").arg(before - 1797000) }));
        QCOMPARE(rows(path(), "SELECT value FROM meta WHERE key = 'imported'"), QStringList { "5" });
        QCOMPARE(m_lines.size(), 2);
        QVERIFY2(m_lines[1].contains("imported 5 events") && m_lines[1].contains("1 unreadable"),
            qPrintable(m_lines[1]));
        struct stat status
        {
        };
        QVERIFY(
            ::stat(QFile::encodeName(path()).constData(), &status) == 0 && (status.st_mode & 0777) == 0600);
    }

    void damagedMovedAside_data()
    {
        QTest::addColumn<bool>("notADatabase");
        QTest::newRow("not a database") << true;
        QTest::newRow("pages damaged") << false;
    }
    void damagedMovedAside()
    {
        QFETCH(bool, notADatabase);
        {
            auto store = writer(m_dir->path());
            HistoryBatch batch;
            for (int i = 0; i < 3000; ++i)
                batch.push_back(entry(
                    Kind::Intrusion, i, qPrintable(QString("10.1.%1.%2").arg(i / 200).arg(i % 200)), 21));
            store->write(batch);
        }
        QByteArray bytes = fileBytes(path());
        if (notADatabase)
            bytes = QByteArray(bytes.size(), 'x');
        else
            bytes.replace(bytes.size() / 2, 8192, QByteArray(8192, '\xff'));
        QVERIFY(writeFile(path(), bytes));
        m_lines.clear();
        auto store = writer(m_dir->path());
        QVERIFY(store->isOpen());
        const QString aside = "history.sqlite.damaged-20270116-080000";
        QCOMPARE(m_lines,
            QStringList {
                "History: history.sqlite was damaged; moved aside as " + aside + " and a new one started" });
        QCOMPARE(fileBytes(m_dir->filePath(aside)), bytes);
        store->write({ entry(Kind::Intrusion, 0, "192.0.2.1", 21) });
        QCOMPARE(rows(path(), "SELECT count(*) FROM incidents"), QStringList { "1" });
    }

    // A small file system in a mount namespace of the test's own.
    void fullDiskReportedOnce()
    {
        if (::geteuid() != 0)
            QSKIP("mounting a small file system needs root");
        const QByteArray folder = QFile::encodeName(m_dir->path());
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
            || ::mount("tmpfs", folder.constData(), "tmpfs", 0, "size=512k") != 0)
            QSKIP("this system refuses to mount a small file system here");
        const auto unmount = qScopeGuard([&] { ::umount2(folder.constData(), MNT_DETACH); });
        auto store = writer(m_dir->path());
        const auto batch = [](int from) {
            HistoryBatch made;
            for (int i = from; i < from + 500; ++i)
                made.push_back(entry(
                    Kind::Intrusion, i, qPrintable(QString("10.2.%1.%2").arg(i / 200).arg(i % 200)), 21));
            return made;
        };
        store->write(batch(0));
        QFile filler(m_dir->filePath("filler"));
        QVERIFY(filler.open(QIODevice::WriteOnly));
        while (filler.write(QByteArray(4096, '.')) == 4096 && filler.flush()) { }
        filler.close();
        for (int i = 1; i <= 3; ++i)
            store->write(batch(i * 500));
        QCOMPARE(m_lines,
            QStringList { "History: the disk is full; incidents are not recorded until there is room" });
        QVERIFY(QFile::remove(filler.fileName()));
        store->write(batch(2000));
        QCOMPARE(m_lines.value(1), "History: 1500 events were lost while the disk was full");
        QCOMPARE(
            rows(path(),
                QString(
                    "SELECT count(*), sum(first < T0 + 500000), sum(first >= T0 + 2000000) FROM incidents")
                    .replace("T0", QString::number(T0))),
            QStringList { "1000|500|500" });
    }

    // Every event the outputs record reaches the store through the recorder and the writer's
    // thread, at the end of the event-loop pass.
    void liveFeed()
    {
        Lines status;
        HistoryRecorder recorder;
        HistoryStore store(status, m_dir->path(), 0);
        for (int i = 0; i < 3; ++i)
            recorder.record(Event::intrusion("192.0.2.3", 40000, 21 + i, false));
        recorder.record(Event::networkChanged(true));
        recorder.setStore(&store);
        QTRY_COMPARE_WITH_TIMEOUT((store.waitIdle(), store.stats().written), quint64(3), 5000);
        QCOMPARE(rows(path(), "SELECT count, ports FROM incidents"), QStringList { "3|21,22,23" });
        QCOMPARE(status.lines, QStringList());
        // More than the queue holds is dropped, and said once room is back.
        QVERIFY(!store.submit(
            HistoryBatch(HistoryStore::MaxQueued + 1, entry(Kind::Intrusion, 0, "192.0.2.4", 21))));
        QVERIFY(store.submit({ entry(Kind::Intrusion, 0, "192.0.2.4", 21) }));
        QCOMPARE(status.lines,
            QStringList { "History: 200001 events were not recorded: the history fell behind" });
    }
};

QTEST_GUILESS_MAIN(TestHistoryStore)
#include "tst_HistoryStore.moc"
