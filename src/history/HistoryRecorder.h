#pragma once

#include "EndOfPass.h"
#include "EventSink.h"
#include "HistoryEntry.h"

class HistoryStore;

// Sees every recorded event on the user-interface thread, keeps the entries of those the history
// wants and hands them to the store as one batch at the end of the event-loop pass. Without a
// store (the history is off, or not open yet) entries wait, at most MaxWaiting of them.
class HistoryRecorder : public EventSink
{
public:
    static constexpr qsizetype MaxWaiting = 10000;

    HistoryRecorder() = default;

    void record(const Event& event) override;
    // nullptr: the history is off; what waits is dropped.
    void setStore(HistoryStore* store);
    // Hands what waits over now.
    void flush();

private:
    HistoryStore* m_store = nullptr;
    bool m_off = false;
    quint64 m_dropped = 0; // while no store took them
    HistoryBatch m_pending;
    EndOfPass m_handOver { [this] { flush(); } };
};
