#include "HistoryWriter.h"

#include "HistoryFolding.h"
#include "HistoryImport.h"
#include "HistorySchema.h"
#include "PrivateFiles.h"
#include "SourceLocation.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimeZone>
#include <QVariant>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace {
constexpr qint64 DayMs = 24 * 3600 * 1000;
constexpr qint64 HourMs = 3600 * 1000;
constexpr qsizetype ImportBatch = 5000;
// SQLite's result codes, as the driver reports them.
constexpr int Corrupt = 11;
constexpr int Full = 13;
constexpr int NotADatabase = 26;

QString uniqueConnection()
{
    static std::atomic<int> next { 0 };
    return QStringLiteral("history-%1").arg(++next);
}

bool isDamage(const QSqlError& error)
{
    const int code = error.nativeErrorCode().toInt() & 0xff;
    const QString text = error.databaseText();
    return code == Corrupt || code == NotADatabase || text.contains(QLatin1String("malformed"))
        || text.contains(QLatin1String("not a database"));
}

// The first column of the first row; 0 when there is none.
qint64 single(QSqlDatabase database, const QString& statement)
{
    QSqlQuery query(database);
    return query.exec(statement) && query.next() ? query.value(0).toLongLong() : 0;
}
} // namespace

HistoryWriter::HistoryWriter(const QString& folder, Clock clock, QObject* parent)
    : QObject(parent)
    , m_folder(folder)
    , m_path(QDir(folder).filePath(fileName()))
    , m_connection(uniqueConnection())
    , m_clock(clock ? std::move(clock) : [] { return QDateTime::currentMSecsSinceEpoch(); })
{
}

HistoryWriter::~HistoryWriter()
{
    close();
}

qint64 HistoryWriter::now() const
{
    return m_clock();
}

bool HistoryWriter::isOpen() const
{
    return m_folding != nullptr;
}

void HistoryWriter::setLimits(const Limits& limits)
{
    const bool tighter = limits.days < m_limits.days || limits.sizeMb < m_limits.sizeMb;
    m_limits = limits;
    if (m_folding) {
        m_folding->setGap(limits.gap);
        if (tighter)
            prune();
    }
}

bool HistoryWriter::open(qint64 importBefore)
{
    QString reason;
    if (!PrivateFiles::makePrivateFolder(m_folder, &reason) || !PrivateFiles::makePrivateFile(m_path)) {
        emit statusLine(
            QStringLiteral("History: %1 cannot be made (%2); no history is kept")
                .arg(fileName(), reason.isEmpty() ? QString::fromLocal8Bit(std::strerror(errno)) : reason));
        return false;
    }
    if (!openDatabase())
        return false;
    prune();
    if (importBefore > 0)
        importEvents(importBefore);
    return true;
}

bool HistoryWriter::openDatabase()
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        Health health = Health::Failed;
        QString problem;
        {
            QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
            database.setDatabaseName(m_path);
            database.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
            health = database.open() ? check(database, &problem) : Health::Failed;
            if (problem.isEmpty())
                problem = database.lastError().text();
            if (health == Health::Good) {
                m_folding = std::make_unique<HistoryFolding>(database, SourceLocator::open());
                m_folding->setGap(m_limits.gap);
                return true;
            }
        }
        closeDatabase();
        if (health == Health::Newer) {
            emit statusLine(
                QStringLiteral("History: %1 comes from a newer version of the program; no history is kept")
                    .arg(fileName()));
            return false;
        }
        // Only a file found damaged goes aside: one that could not be read this time stays.
        if (health == Health::Failed || attempt > 0) {
            emit statusLine(QStringLiteral("History: %1 cannot be opened (%2); no history is kept")
                                .arg(fileName(), problem));
            return false;
        }
        moveAside();
    }
    return false;
}

HistoryWriter::Health HistoryWriter::check(QSqlDatabase& database, QString* problem)
{
    QSqlQuery query(database);
    const auto failed = [&] {
        *problem = query.lastError().text();
        return isDamage(query.lastError()) ? Health::Damaged : Health::Failed;
    };
    // A file that is no database fails here already; a damaged one says what is wrong.
    if (!query.exec(QStringLiteral("PRAGMA quick_check")) || !query.next())
        return failed();
    if (query.value(0).toString() != QLatin1String("ok"))
        return Health::Damaged;
    query.finish();
    if (!query.exec(QStringLiteral("PRAGMA user_version")) || !query.next())
        return failed();
    if (query.value(0).toInt() > HistorySchema::Version)
        return Health::Newer;
    query.finish();
    // Pruning gives pages back to the disk only with this, set before the first table. It costs
    // nothing else: the writer deletes only when it prunes.
    if (single(database, QStringLiteral("PRAGMA page_count")) == 0)
        query.exec(QStringLiteral("PRAGMA auto_vacuum = FULL"));
    if (!query.exec(QStringLiteral("PRAGMA journal_mode = WAL")))
        return failed();
    query.finish();
    query.exec(QStringLiteral("PRAGMA synchronous = NORMAL"));
    // The indexes are walked at random addresses: kept in memory rather than read again.
    query.exec(QStringLiteral("PRAGMA cache_size = -16384"));
    if (HistorySchema::create(database))
        return Health::Good;
    *problem = database.lastError().text();
    return isDamage(database.lastError()) ? Health::Damaged : Health::Failed;
}

void HistoryWriter::closeDatabase()
{
    m_folding.reset();
    if (QSqlDatabase::contains(m_connection)) {
        QSqlDatabase::database(m_connection, false).close();
        QSqlDatabase::removeDatabase(m_connection);
    }
}

void HistoryWriter::close()
{
    closeDatabase();
}

void HistoryWriter::moveAside()
{
    const QString stamp
        = QDateTime::fromMSecsSinceEpoch(now(), Qt::UTC).toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const QString aside = m_path + QStringLiteral(".damaged-") + stamp;
    QFile::remove(aside);
    const bool moved = QFile::rename(m_path, aside);
    for (const char* suffix : { "-wal", "-shm" }) { // they belong to the damaged file
        const QString part = m_path + QLatin1String(suffix);
        if (QFile::exists(part) && !(moved && QFile::rename(part, aside + QLatin1String(suffix))))
            QFile::remove(part);
    }
    if (!moved)
        QFile::remove(m_path);
    (void)PrivateFiles::makePrivateFile(m_path);
    emit statusLine(moved ? QStringLiteral("History: %1 was damaged; moved aside as %2 and a new one started")
                                .arg(fileName(), QFileInfo(aside).fileName())
                          : QStringLiteral("History: %1 was damaged; a new one started").arg(fileName()));
}

void HistoryWriter::write(const HistoryBatch& batch)
{
    if (batch.empty())
        return;
    if (!m_folding) {
        m_stats.lost += batch.size();
        return;
    }
    const Failure failure = commit(*m_folding, batch);
    if (failure != Failure::None) {
        failed(failure, qsizetype(batch.size()));
        return;
    }
    m_stats.written += batch.size();
    emit committed();
    if (m_full) {
        m_full = false;
        emit statusLine(
            QStringLiteral("History: %1 events were lost while the disk was full").arg(m_lostUnreported));
        m_lostUnreported = 0;
    }
    // The size is asked every few seconds, not after every transaction: it grows by little in
    // between, and asking costs as much as a small transaction.
    if (now() >= m_nextPrune) {
        prune();
    } else if (now() >= m_nextSizeCheck) {
        m_nextSizeCheck = now() + SizeCheckMs;
        if (usedBytes() > limitBytes())
            prune();
    }
}

HistoryWriter::Failure HistoryWriter::commit(HistoryFolding& folding, const HistoryBatch& batch)
{
    QSqlDatabase database = QSqlDatabase::database(m_connection, false);
    QSqlError error;
    if (!database.transaction()) {
        error = database.lastError();
    } else {
        bool done = true;
        for (const HistoryEntry& entry : batch) {
            if (!(done = folding.apply(entry)))
                break;
        }
        done = done && folding.finish();
        if (done && database.commit())
            return Failure::None;
        error = done ? database.lastError() : folding.lastError();
        database.rollback();
    }
    folding.forgetAll();
    // The driver leaves the code out when a commit fails; SQLite's own words for it are fixed.
    const int code = error.nativeErrorCode().toInt() & 0xff;
    if (code == Full || error.databaseText().contains(QLatin1String("disk is full")))
        return Failure::Full;
    if (isDamage(error))
        return Failure::Damaged;
    m_lastError = error.text();
    return Failure::Other;
}

void HistoryWriter::failed(Failure failure, qsizetype entries)
{
    m_stats.lost += quint64(entries);
    switch (failure) {
    case Failure::Full:
        m_lostUnreported += quint64(entries);
        if (!m_full)
            emit statusLine(
                QStringLiteral("History: the disk is full; incidents are not recorded until there is room"));
        m_full = true;
        break;
    case Failure::Damaged:
        closeDatabase();
        moveAside();
        openDatabase();
        break;
    case Failure::Other:
        if (!m_otherReported)
            emit statusLine(QStringLiteral("History: events could not be recorded (%1)").arg(m_lastError));
        m_otherReported = true;
        break;
    case Failure::None:
        break;
    }
}

qint64 HistoryWriter::limitBytes() const
{
    return qint64(m_limits.sizeMb) * 1024 * 1024;
}

qint64 HistoryWriter::usedBytes()
{
    QSqlDatabase database = QSqlDatabase::database(m_connection, false);
    return single(database,
        QStringLiteral("SELECT (page_count - freelist_count) * page_size"
                       " FROM pragma_page_count, pragma_freelist_count, pragma_page_size"));
}

qint64 HistoryWriter::prune()
{
    if (!m_folding)
        return 0;
    m_nextPrune = now() + HourMs;
    QSqlDatabase database = QSqlDatabase::database(m_connection, false);
    qint64 pruned = 0;
    if (!database.transaction())
        return 0;
    QSqlQuery query(database);
    const auto run = [&](const QString& statement, const QVariantList& values) {
        query.prepare(statement);
        for (int i = 0; i < values.size(); ++i)
            query.bindValue(i, values[i]);
        return query.exec();
    };
    // By age: whatever ended before the first day kept.
    const qint64 cutoff = now() - qint64(m_limits.days) * DayMs;
    bool done = run(QStringLiteral("DELETE FROM incident_ports WHERE incident IN"
                                   " (SELECT id FROM incidents WHERE last < ?)"),
                    { cutoff })
        && run(QStringLiteral("DELETE FROM incidents WHERE last < ?"), { cutoff });
    pruned += done ? query.numRowsAffected() : 0;
    done = done && run(QStringLiteral("DELETE FROM sources WHERE last < ?"), { cutoff })
        && run(QStringLiteral("DELETE FROM hourly WHERE hour < ?"), { cutoff / HourMs });
    // By size: the oldest incidents, a twentieth at a time, until the rest fits.
    while (done && usedBytes() > limitBytes()) {
        const qint64 count = single(database, QStringLiteral("SELECT count(*) FROM incidents"));
        if (count == 0)
            break;
        const qint64 step = std::max<qint64>(64, count / 20);
        const qint64 through = single(database,
            QStringLiteral("SELECT id FROM incidents ORDER BY id LIMIT 1 OFFSET %1")
                .arg(std::min(step, count) - 1));
        done = run(QStringLiteral("DELETE FROM incident_ports WHERE incident <= ?"), { through })
            && run(QStringLiteral("DELETE FROM incidents WHERE id <= ?"), { through });
        pruned += done ? query.numRowsAffected() : 0;
        const qint64 oldest = single(database, QStringLiteral("SELECT min(first) FROM incidents"));
        done = done && run(QStringLiteral("DELETE FROM sources WHERE last < ?"), { oldest })
            && run(QStringLiteral("DELETE FROM hourly WHERE hour < ?"), { oldest / HourMs });
        done = done && database.commit() && database.transaction();
    }
    if (done && pruned > 0)
        done
            = run(QStringLiteral("INSERT INTO meta(key, value) VALUES('pruned', ?) ON CONFLICT(key) DO UPDATE"
                                 " SET value = value + excluded.value"),
                { pruned });
    if (!done || !database.commit()) {
        database.rollback();
        return 0;
    }
    m_stats.pruned += quint64(pruned);
    if (pruned > 0 && !m_prunedReported) {
        m_prunedReported = true;
        emit statusLine(QStringLiteral("History: %1 old incidents pruned to stay within %2 days and %3 MB")
                            .arg(pruned)
                            .arg(m_limits.days)
                            .arg(m_limits.sizeMb));
    }
    return pruned;
}

void HistoryWriter::importEvents(qint64 before)
{
    QSqlDatabase database = QSqlDatabase::database(m_connection, false);
    bool known = false;
    {
        QSqlQuery query(database);
        known = query.exec(QStringLiteral("SELECT value FROM meta WHERE key = 'imported'")) && query.next();
    }
    if (known)
        return;
    // Marked before it starts: an import cut short is not read twice.
    QSqlQuery mark(database);
    mark.exec(QStringLiteral("INSERT INTO meta(key, value) VALUES('imported', 0)"));
    HistoryImport source(m_folder, ImportBytes, before);
    HistoryBatch batch = source.next(ImportBatch);
    if (batch.empty()) // nothing from before this run
        return;
    emit statusLine(QStringLiteral("History: importing %1 (%2 KB)")
                        .arg(QStringLiteral("events.jsonl"))
                        .arg((source.totalBytes() + 1023) / 1024));
    HistoryFolding folding(database, SourceLocator::open());
    folding.setGap(m_limits.gap);
    quint64 imported = 0;
    for (; !batch.empty(); batch = source.next(ImportBatch)) {
        const Failure failure = commit(folding, batch);
        if (failure != Failure::None) {
            failed(failure, qsizetype(batch.size()));
            if (failure == Failure::Damaged || !m_folding)
                return;
            continue;
        }
        imported += batch.size();
        emit importProgress(source.readBytes(), source.totalBytes());
    }
    m_stats.imported += imported;
    mark.prepare(QStringLiteral("UPDATE meta SET value = ? WHERE key = 'imported'"));
    mark.bindValue(0, imported);
    mark.exec();
    emit statusLine(QStringLiteral("History: imported %1 events from %2%3")
                        .arg(imported)
                        .arg(QStringLiteral("events.jsonl"))
                        .arg(source.skippedLines() > 0
                                ? QStringLiteral(" (%1 unreadable lines skipped)").arg(source.skippedLines())
                                : QString()));
    if (usedBytes() > limitBytes())
        prune();
}
