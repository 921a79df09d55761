#pragma once

#include "HistoryEntry.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>

class HistoryFolding;
class QSqlDatabase;

// Writes "history.sqlite": one connection, made and used on the thread that calls open() (the
// store's own thread; a test's thread in the tests). Each batch is one transaction of prepared
// statements; the folding keeps the rows of open incidents in memory between batches, so that a
// scan of many probes updates one row.
//
// The database is damaged (not a database, or its quick check fails): it is moved aside as
// "history.sqlite.damaged-<time>" with one status line and a fresh one is started. The disk is
// full: the batch is lost and counted, one status line says so, and one more how many events
// were lost once writing works again. Nothing else stops: the other outputs are not ours.
class HistoryWriter : public QObject
{
    Q_OBJECT

public:
    // Milliseconds since the epoch, UTC: what retention and the names of moved files go by.
    using Clock = std::function<qint64()>;

    struct Limits
    {
        int days = 365; // "History Days"
        int sizeMb = 200; // "History Size": the database's pages, in MB
        std::chrono::milliseconds gap { 60000 }; // a source's probes this close belong together
        bool operator==(const Limits&) const = default;
    };

    struct Stats
    {
        quint64 written = 0; // entries in committed batches
        quint64 lost = 0; // entries of batches that could not be written
        quint64 pruned = 0; // incidents pruned by retention, this run
        quint64 imported = 0; // entries taken from events.jsonl
    };

    // Lines of events.jsonl and its rotated files read on the first start, at most: the newest
    // files that fit, read oldest first.
    static constexpr qint64 ImportBytes = 64 * 1024 * 1024;

    static QString fileName() { return QStringLiteral("history.sqlite"); }

    explicit HistoryWriter(const QString& folder, Clock clock = {}, QObject* parent = nullptr);
    ~HistoryWriter() override;

    // Opens (or makes) the database, moving a damaged one aside, and prunes. On the first start
    // it imports events.jsonl's lines older than importBefore (ms since the epoch); 0: none.
    bool open(qint64 importBefore = 0);
    void close();
    bool isOpen() const;

    void setLimits(const Limits& limits);
    void write(const HistoryBatch& batch);
    // Applies "History Days" and "History Size" now; how many incidents went.
    qint64 prune();

    QString path() const { return m_path; }
    Stats stats() const { return m_stats; }

signals:
    void statusLine(const QString& text);
    // A batch is in the database: readers may look again.
    void committed();
    void importProgress(qint64 done, qint64 total);

private:
    enum class Failure { None, Full, Damaged, Other };
    enum class Health { Good, Damaged, Newer, Failed };

    bool openDatabase();
    Health check(QSqlDatabase& database, QString* problem);
    void closeDatabase();
    void moveAside();
    void importEvents(qint64 before);
    // Writes the batch in one transaction; what went wrong.
    Failure commit(HistoryFolding& folding, const HistoryBatch& batch);
    void failed(Failure failure, qsizetype entries);
    qint64 usedBytes();
    qint64 limitBytes() const;
    qint64 now() const;

    QString m_folder;
    QString m_path;
    QString m_connection;
    Clock m_clock;
    Limits m_limits;
    Stats m_stats;
    std::unique_ptr<HistoryFolding> m_folding; // while the database is open
    qint64 m_nextPrune = 0;
    qint64 m_nextSizeCheck = 0;
    static constexpr qint64 SizeCheckMs = 5000;
    bool m_full = false;
    quint64 m_lostUnreported = 0;
    bool m_prunedReported = false;
    bool m_otherReported = false;
    QString m_lastError;
};
