#include "HistoryStore.h"

#include "StatusReporter.h"

#include <QTimer>

#include <iterator>

HistoryStore::HistoryStore(StatusReporter& status, const QString& folder, qint64 importBefore,
    HistoryWriter::Clock clock, QObject* parent)
    : QObject(parent)
    , m_status(status)
    , m_writer(new HistoryWriter(folder, std::move(clock)))
{
    m_thread.setObjectName(QStringLiteral("history"));
    m_writer->moveToThread(&m_thread);
    connect(m_writer, &HistoryWriter::statusLine, this,
        [this](const QString& text) { m_status.addStatusLine(text); });
    connect(m_writer, &HistoryWriter::importProgress, this, &HistoryStore::importProgress);
    connect(m_writer, &HistoryWriter::committed, this, &HistoryStore::changed);
    m_thread.start(QThread::LowPriority);
    QMetaObject::invokeMethod(m_writer, [writer = m_writer, importBefore] { writer->open(importBefore); });
}

HistoryStore::~HistoryStore()
{
    // What is still gathering is written first; the connection was made on the writer's thread and
    // is closed there.
    QMetaObject::invokeMethod(
        m_writer,
        [this] {
            drain();
            delete m_writer;
        },
        Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

void HistoryStore::setLimits(const HistoryWriter::Limits& limits)
{
    QMetaObject::invokeMethod(m_writer, [writer = m_writer, limits] { writer->setLimits(limits); });
}

bool HistoryStore::submit(HistoryBatch batch)
{
    const qsizetype size = qsizetype(batch.size());
    if (size == 0)
        return true;
    bool wake = false;
    {
        const std::lock_guard lock(m_mutex);
        if (qsizetype(m_waiting.size()) + size > MaxQueued) {
            addDropped(quint64(size));
            return false;
        }
        if (m_waiting.empty())
            m_waiting = std::move(batch);
        else
            m_waiting.insert(m_waiting.end(), std::make_move_iterator(batch.begin()),
                std::make_move_iterator(batch.end()));
        wake = !std::exchange(m_wakeQueued, true);
    }
    if (m_droppedUnreported > 0) {
        m_status.addStatusLine(QStringLiteral("History: %1 events were not recorded: the history fell behind")
                                   .arg(m_droppedUnreported));
        m_droppedUnreported = 0;
    }
    // Whatever gathers meanwhile goes in the same transaction: the busier the alarm, the larger
    // and fewer the transactions.
    if (wake)
        QTimer::singleShot(GatherMs, m_writer, [this] { drain(); });
    return true;
}

void HistoryStore::drain()
{
    HistoryBatch batch;
    {
        const std::lock_guard lock(m_mutex);
        batch.swap(m_waiting);
        m_wakeQueued = false;
    }
    m_writer->write(batch);
}

void HistoryStore::addDropped(quint64 events)
{
    m_droppedTotal += events;
    m_droppedUnreported += events;
}

void HistoryStore::waitIdle()
{
    QMetaObject::invokeMethod(m_writer, [this] { drain(); }, Qt::BlockingQueuedConnection);
}

HistoryWriter::Stats HistoryStore::stats() const
{
    HistoryWriter::Stats stats;
    QMetaObject::invokeMethod(
        m_writer, [&stats, writer = m_writer] { stats = writer->stats(); }, Qt::BlockingQueuedConnection);
    return stats;
}
