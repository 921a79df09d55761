#include "HistoryStore.h"

#include "StatusReporter.h"

HistoryStore::HistoryStore(StatusReporter& status, const QString& folder, qint64 importBefore,
    HistoryWriter::Clock clock, QObject* parent)
    : QObject(parent)
    , m_status(status)
    , m_writer(new HistoryWriter(folder, std::move(clock)))
{
    m_thread.setObjectName(QStringLiteral("history"));
    m_writer->moveToThread(&m_thread);
    connect(m_writer, &HistoryWriter::statusLine, this, [this](const QString& text) { m_status.addStatusLine(text); });
    connect(m_writer, &HistoryWriter::importProgress, this, &HistoryStore::importProgress);
    m_thread.start(QThread::LowPriority);
    QMetaObject::invokeMethod(m_writer, [writer = m_writer, importBefore] { writer->open(importBefore); });
}

HistoryStore::~HistoryStore()
{
    // The connection was made on the writer's thread and is closed there.
    QMetaObject::invokeMethod(m_writer, [writer = m_writer] { delete writer; }, Qt::BlockingQueuedConnection);
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
    if (m_queued.load(std::memory_order_relaxed) + size > MaxQueued) {
        addDropped(quint64(size));
        return false;
    }
    if (m_droppedUnreported > 0) {
        m_status.addStatusLine(
            QStringLiteral("History: %1 events were not recorded: the history fell behind").arg(m_droppedUnreported));
        m_droppedUnreported = 0;
    }
    m_queued.fetch_add(size, std::memory_order_relaxed);
    QMetaObject::invokeMethod(m_writer, [writer = m_writer, queued = &m_queued, batch = std::move(batch)] {
        writer->write(batch);
        queued->fetch_sub(qsizetype(batch.size()), std::memory_order_relaxed);
    });
    return true;
}

void HistoryStore::addDropped(quint64 events)
{
    m_droppedTotal += events;
    m_droppedUnreported += events;
}

void HistoryStore::waitIdle()
{
    QMetaObject::invokeMethod(m_writer, [] {}, Qt::BlockingQueuedConnection);
}

HistoryWriter::Stats HistoryStore::stats() const
{
    HistoryWriter::Stats stats;
    QMetaObject::invokeMethod(m_writer, [&stats, writer = m_writer] { stats = writer->stats(); },
        Qt::BlockingQueuedConnection);
    return stats;
}
