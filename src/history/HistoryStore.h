#pragma once

#include "HistoryEntry.h"
#include "HistoryWriter.h"

#include <QObject>
#include <QThread>

#include <mutex>

class StatusReporter;

// The history as the user-interface thread sees it: a writer on a thread of its own, fed batches
// that never wait for the disk (the lock is held for a copy of entries, never while writing). The
// queue to the writer is bounded; a batch that finds it full
// is dropped and counted, and one status line says how many events were lost once the writer
// has caught up. What the writer reports (a damaged database moved aside, a full disk, the
// import) comes back as status lines.
class HistoryStore : public QObject
{
    Q_OBJECT

public:
    // Events waiting for the writer, at most.
    static constexpr qsizetype MaxQueued = 200000;
    // How long handed-over events gather before the writer takes them in one transaction: a
    // transaction's fixed cost (the journal, the aggregates, the size check) is many times one
    // event's, and a history a moment behind loses nothing.
    static constexpr int GatherMs = 250;

    // folder: where "history.sqlite" lives (the program folder). importBefore: events.jsonl's
    // lines from before this time (ms since the epoch) are imported on the first start; later
    // ones belong to this run and come through submit().
    HistoryStore(StatusReporter& status, const QString& folder, qint64 importBefore,
        HistoryWriter::Clock clock = {}, QObject* parent = nullptr);
    // Writes what was handed over, then closes the database and ends the thread.
    ~HistoryStore() override;

    void setLimits(const HistoryWriter::Limits& limits);
    // False when the queue is full: the batch is dropped and counted.
    bool submit(HistoryBatch batch);
    // Writes everything handed over now and waits until it is written (tests, the bench).
    void waitIdle();

    // Events lost before they reached the store (the recorder's own bound).
    void addDropped(quint64 events);
    quint64 dropped() const { return m_droppedTotal; }
    HistoryWriter::Stats stats() const;

signals:
    // The import of events.jsonl: bytes read of total.
    void importProgress(qint64 done, qint64 total);
    // New rows are in the database (once per transaction of the writer).
    void changed();

private:
    StatusReporter& m_status;
    QThread m_thread;
    HistoryWriter* m_writer; // lives on m_thread, deleted there
    void drain(); // on the writer's thread

    std::mutex m_mutex; // guards the two below
    HistoryBatch m_waiting;
    bool m_wakeQueued = false;
    quint64 m_droppedTotal = 0;
    quint64 m_droppedUnreported = 0;
};
