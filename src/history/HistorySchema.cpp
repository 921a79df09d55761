#include "HistorySchema.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>

namespace HistorySchema {
namespace {
constexpr const char* Tables[] = {
    "CREATE TABLE IF NOT EXISTS incidents ("
    " id INTEGER PRIMARY KEY,"
    " address BLOB NOT NULL,"
    " first INTEGER NOT NULL,"
    " last INTEGER NOT NULL,"
    " utc_offset INTEGER NOT NULL DEFAULT 0," // seconds east of UTC where the incident was seen
    " ports TEXT NOT NULL DEFAULT ''," // "21,23,161/udp" in the order touched
    " kinds INTEGER NOT NULL DEFAULT 0,"
    " count INTEGER NOT NULL DEFAULT 0," // probes, repeats included
    " sources INTEGER NOT NULL DEFAULT 1," // a flood: about how many sources it came from
    " spoofable INTEGER NOT NULL DEFAULT 0," // no probe of it completed a connection
    " state INTEGER NOT NULL DEFAULT 0)", // HistoryState
    "CREATE INDEX IF NOT EXISTS incidents_by_address ON incidents(address, id)",
    "CREATE INDEX IF NOT EXISTS incidents_by_last ON incidents(last)",
    // Counting incidents of a kind reads this index alone, not the table: the kinds of a million
    // incidents take a few hundred distinct values.
    "CREATE INDEX IF NOT EXISTS incidents_by_kinds ON incidents(kinds)",
    "CREATE TABLE IF NOT EXISTS incident_ports ("
    " port INTEGER NOT NULL,"
    " incident INTEGER NOT NULL,"
    " PRIMARY KEY(port, incident)) WITHOUT ROWID",
    "CREATE INDEX IF NOT EXISTS incident_ports_by_incident ON incident_ports(incident)",
    "CREATE TABLE IF NOT EXISTS sources ("
    " address BLOB PRIMARY KEY,"
    " text TEXT NOT NULL,"
    " first INTEGER NOT NULL,"
    " last INTEGER NOT NULL,"
    " count INTEGER NOT NULL DEFAULT 0,"
    " incidents INTEGER NOT NULL DEFAULT 0,"
    " kinds INTEGER NOT NULL DEFAULT 0,"
    " country TEXT NOT NULL DEFAULT ''," // ISO 3166 code, empty where unknown
    " asn INTEGER NOT NULL DEFAULT 0) WITHOUT ROWID",
    "CREATE INDEX IF NOT EXISTS sources_by_count ON sources(count)",
    "CREATE TABLE IF NOT EXISTS networks (asn INTEGER PRIMARY KEY, name TEXT NOT NULL)",
    "CREATE TABLE IF NOT EXISTS hourly ("
    " hour INTEGER NOT NULL," // hours since the epoch, UTC
    " kind INTEGER NOT NULL,"
    " port INTEGER NOT NULL,"
    " count INTEGER NOT NULL,"
    " PRIMARY KEY(hour, kind, port)) WITHOUT ROWID",
    "CREATE TABLE IF NOT EXISTS meta (key TEXT PRIMARY KEY, value)",
};
} // namespace

bool create(QSqlDatabase& database)
{
    QSqlQuery query(database);
    if (!query.exec(QStringLiteral("PRAGMA user_version")) || !query.next())
        return false;
    const int version = query.value(0).toInt();
    if (version > Version)
        return false;
    if (!database.transaction())
        return false;
    for (const char* statement : Tables) {
        if (!query.exec(QString::fromLatin1(statement))) {
            database.rollback();
            return false;
        }
    }
    if (!query.exec(QStringLiteral("PRAGMA user_version = %1").arg(Version))) {
        database.rollback();
        return false;
    }
    return database.commit();
}

} // namespace HistorySchema
