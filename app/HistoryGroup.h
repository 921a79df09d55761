#pragma once

#include "HistoryRecorder.h"
#include "HistoryStore.h"

#include <QObject>

#include <memory>

class Foundation;
struct Settings;

// The searchable history beside the other outputs: a recorder that sees every event from the
// start, and the store it feeds while "Keep History" is on. Turning it off closes the store (the
// file stays); turning it on opens it again.
class HistoryGroup : public QObject
{
    Q_OBJECT

public:
    explicit HistoryGroup(Foundation& foundation, HistoryWriter::Clock clock = {}, QObject* parent = nullptr);
    ~HistoryGroup() override;

    // Takes the "History" section, and the scan gap that folds a source's probes.
    void apply(const Settings& settings);

    // nullptr while the history is off.
    HistoryStore* store() { return m_store.get(); }

private:
    Foundation& m_foundation;
    HistoryWriter::Clock m_clock;
    // Lines of events.jsonl from before this moment are the past the first start imports.
    const qint64 m_startedAt;
    HistoryRecorder m_recorder;
    std::unique_ptr<HistoryStore> m_store;
};
