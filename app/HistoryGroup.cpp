#include "HistoryGroup.h"

#include "Foundation.h"

#include <QDateTime>

HistoryGroup::HistoryGroup(Foundation& foundation, HistoryWriter::Clock clock, QObject* parent)
    : QObject(parent)
    , m_foundation(foundation)
    , m_clock(clock ? std::move(clock) : [] { return QDateTime::currentMSecsSinceEpoch(); })
    , m_startedAt(m_clock())
{
    m_foundation.events().addWatcher(&m_recorder);
}

HistoryGroup::~HistoryGroup()
{
    m_foundation.events().removeWatcher(&m_recorder);
    m_recorder.flush();
    m_recorder.setStore(nullptr);
}

void HistoryGroup::apply(const Settings& settings)
{
    if (!settings.history.keep) {
        m_recorder.setStore(nullptr);
        m_store.reset();
        return;
    }
    if (!m_store) {
        m_store = std::make_unique<HistoryStore>(
            m_foundation.status(), m_foundation.folder().appPath(), m_startedAt, m_clock);
        m_recorder.setStore(m_store.get());
    }
    m_store->setLimits({ settings.history.days, settings.history.sizeMb,
        std::chrono::seconds(settings.alarm.scanGapSeconds) });
}
