#include "HistoryQuery.h"

#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

#include <algorithm>

namespace {
constexpr const char* Columns = "i.id, i.address, i.first, i.last, i.utc_offset, i.ports, i.kinds, i.count, "
                                "i.sources, i.spoofable, i.state, s.text, s.country, s.asn, n.name";
constexpr const char* Joins
    = " LEFT JOIN sources s ON s.address = i.address LEFT JOIN networks n ON n.asn = s.asn";
// A source's incidents in its summary: enough to read, bounded for a source that never stops.
constexpr int SourceIncidentLimit = 5000;
// An address range that holds more incidents than this is walked in time order rather than
// through the address index: sorting most of the history to show its newest hundred costs more.
constexpr int WideRange = 4000;
// Incidents of the kinds asked for, at most, that are found through the kinds index and sorted.
constexpr int RareKinds = 10000;
constexpr qint64 HourMs = 3600 * 1000;

QString sortExpression(HistoryColumn column)
{
    switch (column) {
    case HistoryColumn::Time:
        return QStringLiteral("i.id");
    case HistoryColumn::Last:
        return QStringLiteral("i.last");
    case HistoryColumn::Address:
        return QStringLiteral("i.address");
    case HistoryColumn::Country:
        return QStringLiteral("coalesce(s.country, '')");
    case HistoryColumn::Owner:
        return QStringLiteral("coalesce(n.name, '')");
    case HistoryColumn::Ports:
        return QStringLiteral("i.ports");
    case HistoryColumn::Kinds:
        return QStringLiteral("i.kinds");
    case HistoryColumn::Count:
        return QStringLiteral("i.count");
    case HistoryColumn::State:
        return QStringLiteral("i.state");
    }
    return QStringLiteral("i.id");
}

QVariant sortValue(HistoryColumn column, const HistoryIncident& row)
{
    switch (column) {
    case HistoryColumn::Time:
        return row.id;
    case HistoryColumn::Last:
        return row.last;
    case HistoryColumn::Address:
        return row.address;
    case HistoryColumn::Country:
        return row.country;
    case HistoryColumn::Owner:
        return row.owner;
    case HistoryColumn::Ports:
        return row.ports;
    case HistoryColumn::Kinds:
        return row.kinds;
    case HistoryColumn::Count:
        return row.count;
    case HistoryColumn::State:
        return int(row.state);
    }
    return row.id;
}

// One statement and the values of its placeholders, in order.
struct Statement
{
    QString sql;
    QVariantList values;
};

// What the filter adds to a statement: its joins and the conditions after WHERE. A port drives the
// statement from its index entries, which hold the incidents in id order: the newest page of a
// port is then read without a sort.
struct FilterSql
{
    bool byPort = false;
    QString from;
    QStringList conditions;
    QVariantList values;
};

// Whether the address range holds more than WideRange incidents: one short walk of the index.
bool isWide(QSqlDatabase& database, const HistoryFilter::AddressRange& range)
{
    QSqlQuery query(database);
    query.prepare(QStringLiteral(
        "SELECT count(*) FROM (SELECT 1 FROM incidents WHERE address BETWEEN ? AND ? LIMIT %1)")
                      .arg(WideRange + 1));
    query.addBindValue(range.low);
    query.addBindValue(range.high);
    return query.exec() && query.next() && query.value(0).toInt() > WideRange;
}

// How many incidents the sources matching have, as their rows count them.
qint64 incidentsOf(QSqlDatabase& database, const QString& matching, const QString& pattern)
{
    QSqlQuery query(database);
    query.prepare(QStringLiteral("SELECT coalesce(sum(incidents), 0) ") + matching);
    for (int i = 0; i < 3; ++i)
        query.addBindValue(pattern);
    return query.exec() && query.next() ? query.value(0).toLongLong() : 0;
}

// The kinds values stored that share a bit with kinds, found by seeking the kinds index once per
// value: a few hundred at most, where the incidents are a million.
QStringList storedKinds(QSqlDatabase& database, unsigned kinds)
{
    QStringList values;
    QSqlQuery query(database);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT kinds FROM incidents WHERE kinds > ? ORDER BY kinds LIMIT 1"));
    qint64 after = -1;
    for (;;) {
        query.addBindValue(after);
        if (!query.exec() || !query.next())
            return values;
        after = query.value(0).toLongLong();
        if (after & kinds)
            values += QString::number(after);
    }
}

// Whether at most limit incidents are of these kinds values: one short walk of the kinds index.
bool isRare(QSqlDatabase& database, const QString& inList, int limit)
{
    QSqlQuery query(database);
    return query.exec(
               QStringLiteral("SELECT count(*) FROM (SELECT 1 FROM incidents WHERE kinds IN %1 LIMIT %2)")
                   .arg(inList)
                   .arg(limit + 1))
        && query.next() && query.value(0).toInt() <= limit;
}

enum class Use { Page, Count };

FilterSql filterSql(QSqlDatabase& database, const HistoryFilter& filter, Use use, bool timeOrder)
{
    FilterSql sql;
    sql.byPort = filter.port > 0 && timeOrder;
    // A page in time order is read newest first along the table itself, testing each incident,
    // unless an address range or a kind holds few incidents: those are found through their index
    // and sorted, or the walk would read the whole table for a handful of rows. A port drives the
    // statement from its own index, already in time order.
    const bool walk = use == Use::Page && timeOrder && !sql.byPort;
    QString incidents = QStringLiteral("incidents i");
    QString kindsList;
    if (filter.kinds != 0) {
        const QStringList values = storedKinds(database, filter.kinds);
        kindsList = values.isEmpty() ? QString() : u'(' + values.join(u',') + u')';
    }
    const bool fewAddresses = walk && filter.addresses && !isWide(database, *filter.addresses);
    const bool fewKinds
        = walk && !fewAddresses && !kindsList.isEmpty() && isRare(database, kindsList, RareKinds);
    if (fewAddresses)
        incidents += QStringLiteral(" INDEXED BY incidents_by_address");
    else if (fewKinds)
        incidents += QStringLiteral(" INDEXED BY incidents_by_kinds");
    // A port alone is counted in its index entries, without reading an incident.
    const bool portOnly = use == Use::Count && filter.port > 0 && !filter.addresses && filter.kinds == 0
        && filter.since == 0 && filter.until == 0 && filter.text.isEmpty();
    sql.from = portOnly ? QStringLiteral(" FROM incident_ports p")
        : sql.byPort    ? QStringLiteral(" FROM incident_ports p CROSS JOIN incidents i ON i.id = p.incident")
                        : u" FROM "_qs + incidents;
    if (use == Use::Page)
        sql.from += QLatin1String(Joins);
    if (sql.byPort) {
        sql.conditions += QStringLiteral("p.port = ?");
        sql.values += filter.port;
    } else if (filter.port > 0) {
        sql.conditions += QStringLiteral("i.id IN (SELECT incident FROM incident_ports WHERE port = ?)");
        sql.values += filter.port;
    }
    // "+" keeps the planner off an index where the walk along the table is the faster way.
    if (filter.addresses) {
        sql.conditions += walk && !fewAddresses ? QStringLiteral("+i.address BETWEEN ? AND ?")
                                                : QStringLiteral("i.address BETWEEN ? AND ?");
        sql.values << filter.addresses->low << filter.addresses->high;
    }
    if (filter.kinds != 0) {
        if (kindsList.isEmpty())
            sql.conditions += QStringLiteral("0");
        else
            sql.conditions
                += (walk && !fewKinds ? QStringLiteral("+i.kinds IN ") : QStringLiteral("i.kinds IN "))
                + kindsList;
    }
    if (filter.since > 0) {
        sql.conditions += QStringLiteral("i.last >= ?");
        sql.values += filter.since;
    }
    if (filter.until > 0) {
        sql.conditions += QStringLiteral("i.first <= ?");
        sql.values += filter.until;
    }
    if (!filter.text.isEmpty()) {
        QString pattern = filter.text;
        pattern.replace(u'\\', QLatin1String("\\\\"))
            .replace(u'%', QLatin1String("\\%"))
            .replace(u'_', QLatin1String("\\_"));
        pattern = u'%' + pattern + u'%';
        // The sources and networks matching are found once, in tables a fraction of the size of
        // the incidents, rather than joined to every incident; then the address index finds their
        // incidents. Only a text that a ports list could hold ("22,161/udp") is looked for in
        // every incident's ports.
        static const QRegularExpression portsText(QStringLiteral("^[0-9,/udp]+$"));
        const bool inPorts = portsText.match(filter.text).hasMatch();
        const QString matching
            = QStringLiteral("FROM sources WHERE text LIKE ? ESCAPE '\\' OR country LIKE ? ESCAPE '\\' "
                             "OR asn IN (SELECT asn FROM networks WHERE name LIKE ? ESCAPE '\\')");
        // A page in time order walks the table unless the sources matching have few incidents.
        const bool walkText = walk && (inPorts || incidentsOf(database, matching, pattern) > WideRange);
        const QString sources = (walkText ? QStringLiteral("+i.address IN (SELECT address ")
                                          : QStringLiteral("i.address IN (SELECT address "))
            + matching + u')';
        sql.values << pattern << pattern << pattern;
        if (inPorts) {
            sql.conditions += u'(' + sources + QStringLiteral(" OR i.ports LIKE ? ESCAPE '\\')");
            sql.values << pattern;
        } else {
            sql.conditions += sources;
        }
    }
    return sql;
}

QString whereClause(const QStringList& conditions)
{
    return conditions.isEmpty() ? QString()
                                : QStringLiteral(" WHERE ") + conditions.join(QLatin1String(" AND "));
}

HistoryIncident readIncident(const QSqlQuery& query)
{
    HistoryIncident row;
    row.id = query.value(0).toLongLong();
    row.address = query.value(1).toByteArray();
    row.first = query.value(2).toLongLong();
    row.last = query.value(3).toLongLong();
    row.utcOffset = query.value(4).toInt();
    row.ports = query.value(5).toString();
    row.kinds = query.value(6).toUInt();
    row.count = query.value(7).toLongLong();
    row.sources = query.value(8).toLongLong();
    row.spoofable = query.value(9).toBool();
    row.state = HistoryState(std::clamp(query.value(10).toInt(), 0, int(HistoryState::Allowed)));
    row.addressText
        = query.value(11).isNull() ? HistoryFilter::addressText(row.address) : query.value(11).toString();
    row.country = query.value(12).toString();
    row.asn = query.value(13).toUInt();
    row.owner = query.value(14).toString();
    return row;
}
} // namespace

HistoryQuery::HistoryQuery(QSqlDatabase database)
    : m_database(std::move(database))
{
}

QSqlDatabase HistoryQuery::openForReading(const QString& path, const QString& connectionName)
{
    QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
    database.setDatabaseName(path);
    // Read-only: the reader never takes the writer's lock for more than a moment, never creates a
    // database where there is none, and the writer's journal lets it read a consistent state.
    database.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=2000"));
    database.open();
    return database;
}

namespace {
Statement pageStatement(QSqlDatabase& database, const HistoryFilter& filter, const HistorySort& sort,
    const HistoryIncident* after, qint64 offset, int limit)
{
    const bool timeOrder = sort.column == HistoryColumn::Time;
    FilterSql sql = filterSql(database, filter, Use::Page, timeOrder);
    const QString key = sql.byPort ? QStringLiteral("p.incident") : QStringLiteral("i.id");
    const QString direction = sort.descending ? QStringLiteral(" DESC") : QStringLiteral(" ASC");
    if (after) {
        const QString compare = sort.descending ? QStringLiteral(" < ") : QStringLiteral(" > ");
        if (timeOrder) {
            sql.conditions += key + compare + u'?';
            sql.values += after->id;
        } else {
            // A row without a country or owner holds an empty text, which the sort reads as ''.
            sql.conditions += u'(' + sortExpression(sort.column) + QStringLiteral(", i.id)") + compare
                + QStringLiteral("(coalesce(?, ''), ?)");
            sql.values << sortValue(sort.column, *after) << after->id;
        }
    }
    Statement statement;
    statement.sql = QStringLiteral("SELECT ") + QLatin1String(Columns) + sql.from
        + whereClause(sql.conditions) + QStringLiteral(" ORDER BY ")
        + (timeOrder ? key : sortExpression(sort.column) + direction + QStringLiteral(", i.id")) + direction;
    if (limit >= 0)
        statement.sql += QStringLiteral(" LIMIT %1 OFFSET %2").arg(limit).arg(offset);
    statement.values = sql.values;
    return statement;
}

bool run(QSqlQuery& query, const Statement& statement, QString& error)
{
    query.setForwardOnly(true);
    if (!query.prepare(statement.sql)) {
        error = query.lastError().text();
        return false;
    }
    for (const QVariant& value : statement.values)
        query.addBindValue(value);
    if (!query.exec()) {
        error = query.lastError().text();
        return false;
    }
    return true;
}
} // namespace

QList<HistoryIncident> HistoryQuery::incidents(
    const HistoryFilter& filter, const HistorySort& sort, qint64 offset, int limit)
{
    QList<HistoryIncident> rows;
    QSqlQuery query(m_database);
    if (!run(query, pageStatement(m_database, filter, sort, nullptr, offset, limit), m_lastError))
        return rows;
    while (query.next())
        rows += readIncident(query);
    return rows;
}

QList<HistoryIncident> HistoryQuery::incidentsAfter(
    const HistoryFilter& filter, const HistorySort& sort, const HistoryIncident& after, int limit)
{
    QList<HistoryIncident> rows;
    QSqlQuery query(m_database);
    if (!run(query, pageStatement(m_database, filter, sort, &after, 0, limit), m_lastError))
        return rows;
    while (query.next())
        rows += readIncident(query);
    return rows;
}

bool HistoryQuery::forEach(const HistoryFilter& filter, const HistorySort& sort,
    const std::function<bool(const HistoryIncident&)>& visit)
{
    QSqlQuery query(m_database);
    if (!run(query, pageStatement(m_database, filter, sort, nullptr, 0, -1), m_lastError))
        return false;
    while (query.next()) {
        if (!visit(readIncident(query)))
            break;
    }
    if (query.lastError().isValid()) {
        m_lastError = query.lastError().text();
        return false;
    }
    return true;
}

QStringList HistoryQuery::plan(const HistoryFilter& filter, const HistorySort& sort)
{
    QStringList steps;
    Statement statement = pageStatement(m_database, filter, sort, nullptr, 0, 100);
    statement.sql.prepend(QStringLiteral("EXPLAIN QUERY PLAN "));
    QSqlQuery query(m_database);
    if (!run(query, statement, m_lastError))
        return steps;
    while (query.next())
        steps += query.value(3).toString();
    return steps;
}

qint64 HistoryQuery::count(const HistoryFilter& filter)
{
    const FilterSql sql = filterSql(m_database, filter, Use::Count, true);
    QSqlQuery query(m_database);
    if (!run(query,
            { QStringLiteral("SELECT count(*)") + sql.from + whereClause(sql.conditions), sql.values },
            m_lastError)
        || !query.next())
        return -1;
    return query.value(0).toLongLong();
}

std::optional<HistorySourceSummary> HistoryQuery::source(const QByteArray& address)
{
    HistorySourceSummary summary;
    summary.address = address;
    QSqlQuery query(m_database);
    if (!run(query,
            { QStringLiteral("SELECT ") + QLatin1String(Columns) + QStringLiteral(" FROM incidents i")
                    + QLatin1String(Joins)
                    + QStringLiteral(" WHERE i.address = ? ORDER BY i.id DESC LIMIT %1")
                          .arg(SourceIncidentLimit),
                { address } },
            m_lastError))
        return std::nullopt;
    while (query.next())
        summary.incidents += readIncident(query);

    // The source's own row holds its totals beyond the incidents listed; without it (an incident
    // written before its source) they are added up here.
    if (!run(query,
            { QStringLiteral(
                  "SELECT s.text, s.first, s.last, s.count, s.incidents, s.kinds, s.country, s.asn, n.name "
                  "FROM sources s LEFT JOIN networks n ON n.asn = s.asn WHERE s.address = ?"),
                { address } },
            m_lastError))
        return std::nullopt;
    if (query.next()) {
        summary.addressText = query.value(0).toString();
        summary.first = query.value(1).toLongLong();
        summary.last = query.value(2).toLongLong();
        summary.count = query.value(3).toLongLong();
        summary.incidentCount = query.value(4).toLongLong();
        summary.kinds = query.value(5).toUInt();
        summary.country = query.value(6).toString();
        summary.asn = query.value(7).toUInt();
        summary.owner = query.value(8).toString();
    } else if (summary.incidents.isEmpty()) {
        return std::nullopt;
    } else {
        summary.addressText = HistoryFilter::addressText(address);
        summary.first = summary.incidents.back().first;
        summary.incidentCount = summary.incidents.size();
        for (const HistoryIncident& incident : summary.incidents) {
            summary.last = std::max(summary.last, incident.last);
            summary.count += incident.count;
            summary.kinds |= incident.kinds;
        }
    }

    if (!run(query,
            { QStringLiteral(
                  "SELECT DISTINCT p.port FROM incidents i JOIN incident_ports p ON p.incident = i.id "
                  "WHERE i.address = ? ORDER BY p.port"),
                { address } },
            m_lastError))
        return std::nullopt;
    while (query.next())
        summary.ports += query.value(0).toInt();
    return summary;
}

HistoryCharts HistoryQuery::charts(qint64 now, int utcOffset)
{
    HistoryCharts charts;
    const qint64 hour = now / HourMs;
    charts.firstHour = (hour - 23) * HourMs;
    const qint64 offsetMs = qint64(utcOffset) * 1000;
    const qint64 today = (now + offsetMs) / (24 * HourMs);
    charts.firstDay = (today - 29) * 24 * HourMs - offsetMs;
    const qint64 since = charts.firstDay / HourMs;

    QSqlQuery query(m_database);
    if (!run(query,
            { QStringLiteral("SELECT hour, kind, sum(count) FROM hourly WHERE hour >= ? GROUP BY hour, kind"),
                { since } },
            m_lastError))
        return charts;
    constexpr unsigned spoofable = HistoryKinds::Spoofable | HistoryKinds::Flood;
    while (query.next()) {
        const qint64 at = query.value(0).toLongLong();
        const int kind = query.value(1).toInt();
        const qint64 probes = query.value(2).toLongLong();
        if (kind < 0 || kind >= HistoryCharts::Kinds || at > hour)
            continue;
        if (at > hour - 24)
            charts.hours[std::size_t(at - (hour - 23))][std::size_t(kind)] += probes;
        const qint64 day = (at * HourMs + offsetMs) / (24 * HourMs) - (today - 29);
        if (day >= 0 && day < 30)
            charts.days[std::size_t(day)][std::size_t(kind)] += probes;
        charts.probes += probes;
        if (spoofable & (1u << kind))
            charts.spoofableProbes += probes;
    }

    if (!run(query,
            { QStringLiteral("SELECT port, sum(count) AS probes FROM hourly WHERE hour >= ? AND port > 0 "
                             "GROUP BY port ORDER BY probes DESC, port LIMIT 10"),
                { since } },
            m_lastError))
        return charts;
    while (query.next())
        charts.topPorts += { query.value(0).toInt(), query.value(1).toLongLong() };

    if (!run(query,
            { QStringLiteral("SELECT s.text, s.count, s.country, n.name FROM sources s "
                             "LEFT JOIN networks n ON n.asn = s.asn ORDER BY s.count DESC LIMIT 10"),
                {} },
            m_lastError))
        return charts;
    while (query.next())
        charts.topSources += { query.value(0).toString(), query.value(1).toLongLong(),
            query.value(2).toString(), query.value(3).toString() };
    return charts;
}
