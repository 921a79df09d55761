#pragma once

#include "HistoryEntry.h"
#include "IpAddress.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>

#include <chrono>
#include <memory>

class QSqlDatabase;
class SourceLocator;

// Turns entries into rows, inside the writer's open transaction. An incident's row is made when
// it starts and kept in memory while it is open, so that each batch updates it once however many
// probes it brought. What folds into one row:
//   - an intrusion with the pipeline's incident id: every probe of that incident (the ids start
//     again at each program start, so a "program_started" entry forgets them);
//   - an intrusion without one, and allowed connections: a source's within the gap;
//   - flood records of one kind, while they follow each other within the gap.
// The sources, hourly and incident_ports tables change in the same transaction. Bounded: at most
// MaxOpen open rows, the oldest forgotten first (a later probe then starts a new row).
class HistoryFolding
{
public:
    static constexpr qsizetype MaxOpen = 4096;
    // An incident's ports text lists this many, then "…"; incident_ports holds them all.
    static constexpr int MaxListedPorts = 100;

    // locator: where new sources are; nullptr: unknown.
    HistoryFolding(QSqlDatabase& database, std::unique_ptr<SourceLocator> locator);
    ~HistoryFolding();

    void setGap(std::chrono::milliseconds gap) { m_gap = gap.count(); }

    // False when a statement failed: the transaction must be rolled back, then forgetAll().
    bool apply(const HistoryEntry& entry);
    // Writes the rows, sources and hours the entries since the last finish changed.
    bool finish();
    // The rows in memory may no longer exist (a rolled-back transaction, a new database).
    void forgetAll();

    QSqlError lastError() const { return m_error; }

private:
    struct Open;
    struct SourceChange
    {
        IpAddress address;
        qint64 first = 0;
        qint64 last = 0;
        qint64 count = 0;
        qint64 incidents = 0;
        unsigned kinds = 0;
    };

    bool applyEntry(const HistoryEntry& entry);
    Open* find(const QByteArray& key, qint64 time, bool withinGap);
    Open* start(const QByteArray& key, const QByteArray& address, const HistoryEntry& entry, int state);
    bool addPort(Open& open, int port, bool udp);
    bool store(Open& open);
    bool forget(const QByteArray& key);
    bool block(const QByteArray& address);
    // time: the probe's; a scan record counts at its incident's last probe.
    void countSource(
        const IpAddress& address, qint64 time, Event::Kind kind, unsigned kinds, bool newIncident);
    void countHour(qint64 time, int kind, int port, qint64 probes);
    bool storeSources();
    bool storeHours();
    bool expire();
    bool run(QSqlQuery& query);

    std::unique_ptr<SourceLocator> m_locator;
    qint64 m_gap = 60000;
    qint64 m_latest = 0;
    QHash<QByteArray, std::shared_ptr<Open>> m_open;
    QHash<QByteArray, SourceChange> m_sources;
    QHash<quint64, qint64> m_hours; // (hour, kind, port) packed
    qint64 m_nextId = 0; // 0: to be read from the table
    QSqlQuery m_lastId;
    QSqlQuery m_insertIncident;
    QSqlQuery m_updateIncident;
    QSqlQuery m_insertPort;
    QSqlQuery m_blockLatest;
    QSqlQuery m_sourceKnown;
    QSqlQuery m_upsertSource;
    QSqlQuery m_insertNetwork;
    QSqlQuery m_upsertHour;
    QSqlError m_error;
};
