#include "HistoryRecorder.h"

#include "HistoryStore.h"

void HistoryRecorder::record(const Event& event)
{
    if (m_off)
        return;
    std::optional<HistoryEntry> entry = HistoryEntry::of(event);
    if (!entry)
        return;
    if (qsizetype(m_pending.size()) >= MaxWaiting) {
        if (!m_store) {
            ++m_dropped;
            return;
        }
        flush();
    }
    m_pending.push_back(std::move(*entry));
    if (m_store)
        m_handOver.schedule();
}

void HistoryRecorder::setStore(HistoryStore* store)
{
    m_store = store;
    m_off = !store;
    if (m_off) {
        m_pending.clear();
        m_handOver.cancel();
        m_dropped = 0;
        return;
    }
    if (m_dropped > 0)
        store->addDropped(std::exchange(m_dropped, 0));
    m_handOver.schedule();
}

void HistoryRecorder::flush()
{
    m_handOver.cancel();
    if (m_store && !m_pending.empty())
        m_store->submit(std::exchange(m_pending, {}));
}
