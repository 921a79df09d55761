#pragma once

#include "HistoryFilter.h"
#include "HistoryKinds.h"

#include <QList>
#include <QSqlDatabase>
#include <QString>

#include <array>
#include <functional>
#include <optional>

// One incident as the window and the command line show it: the row of "incidents" with where
// its source is (from "sources" and "networks").
struct HistoryIncident
{
    qint64 id = 0;
    QByteArray address; // the 16-byte key
    QString addressText;
    qint64 first = 0; // ms since the epoch, UTC
    qint64 last = 0;
    int utcOffset = 0; // seconds east of UTC where it was seen
    QString ports; // "21,23,161/udp"
    unsigned kinds = 0; // HistoryKinds bits
    qint64 count = 0;
    qint64 sources = 1;
    bool spoofable = false;
    HistoryState state = HistoryState::Alarm;
    QString country;
    quint32 asn = 0;
    QString owner;
};

// The columns a page can be sorted by. Time is the order incidents began in.
enum class HistoryColumn { Time, Last, Address, Country, Owner, Ports, Kinds, Count, State };

struct HistorySort
{
    HistoryColumn column = HistoryColumn::Time;
    bool descending = true; // newest (largest) first
};

// Everything the history holds about one address.
struct HistorySourceSummary
{
    QByteArray address;
    QString addressText;
    qint64 first = 0;
    qint64 last = 0;
    qint64 count = 0; // probes
    qint64 incidentCount = 0;
    unsigned kinds = 0;
    QString country;
    quint32 asn = 0;
    QString owner;
    QList<int> ports; // every port its incidents touched, ascending
    QList<HistoryIncident> incidents; // newest first
};

// What the charts draw. A stack holds probes per kind bit's index (HistoryKinds::Names).
struct HistoryCharts
{
    static constexpr int Kinds = HistoryKinds::Detections + 2;
    using Stack = std::array<qint64, Kinds>;

    qint64 firstHour = 0; // ms of the start of hours[0]; hours[23] holds the current hour
    std::array<Stack, 24> hours {};
    qint64 firstDay = 0; // ms of the start (local midnight) of days[0]; days[29] holds today
    std::array<Stack, 30> days {};

    struct Source
    {
        QString addressText;
        qint64 count = 0;
        QString country;
        QString owner;
    };
    QList<Source> topSources; // most probes first, at most 10, all time

    struct Port
    {
        int port = 0;
        qint64 count = 0;
    };
    QList<Port> topPorts; // most probes first, at most 10, the last 30 days

    // Probes of the last 30 days, and those of them from kinds a forged address can send.
    qint64 probes = 0;
    qint64 spoofableProbes = 0;
};

// Reads the history on a database the caller opened (see openForReading). Not thread-safe: one
// per thread, like the connection it reads through. Errors leave the answers empty; lastError()
// says why.
class HistoryQuery
{
public:
    explicit HistoryQuery(QSqlDatabase database);

    // Opens path read-only under the connection name given, for reading beside the writer of
    // another process: the writer's journal (WAL) lets readers go on while it writes, and a busy
    // database is waited on briefly instead of failing. Remove the connection with
    // QSqlDatabase::removeDatabase once every query on it is gone.
    static QSqlDatabase openForReading(const QString& path, const QString& connectionName);

    // A page of incidents matching filter, in sort order, skipping offset rows.
    QList<HistoryIncident> incidents(
        const HistoryFilter& filter, const HistorySort& sort = {}, qint64 offset = 0, int limit = 100);
    // The page after the row given (the last of the previous page, in the same sort): does not
    // grow slower the deeper one pages, as an offset does.
    QList<HistoryIncident> incidentsAfter(
        const HistoryFilter& filter, const HistorySort& sort, const HistoryIncident& after, int limit = 100);
    // Every matching incident, one at a time without holding them: for exports. Stops when visit
    // returns false; false on an error.
    bool forEach(const HistoryFilter& filter, const HistorySort& sort,
        const std::function<bool(const HistoryIncident&)>& visit);
    // How many incidents match; -1 on an error.
    qint64 count(const HistoryFilter& filter);

    std::optional<HistorySourceSummary> source(const QByteArray& address);

    // The chart data as of now (ms since the epoch); utcOffset (seconds) places the days' midnights.
    HistoryCharts charts(qint64 now, int utcOffset = 0);

    // How the database would read the first page (EXPLAIN QUERY PLAN), one step a line: for the
    // benchmark, to see which index a filter walks.
    QStringList plan(const HistoryFilter& filter, const HistorySort& sort = {});

    QString lastError() const { return m_lastError; }

private:
    QSqlDatabase m_database;
    QString m_lastError;
};
