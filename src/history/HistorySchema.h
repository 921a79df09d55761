#pragma once

class QSqlDatabase;
class QString;

// The tables of "history.sqlite". Times are milliseconds since the epoch (UTC); an address is its
// 16 bytes, an IPv4 address mapped into IPv6 (::ffff:a.b.c.d), so that a prefix is a range of
// blobs an index can walk.
//
//   incidents       one row per incident: a source's probes within the scan gap, or one flood's
//                   folded probes. id grows in the order incidents start.
//   incident_ports  the ports each incident touched, for the port filter.
//   sources         one row per source: its text, first and last time, its probes and incidents,
//                   its kinds, and where it is (country, autonomous system) when first seen.
//   networks        the autonomous systems' names.
//   hourly          probes per hour, kind (the bit's index) and port, for the charts.
//   meta            what the store keeps about itself (what was imported, what was pruned).
namespace HistorySchema {

inline constexpr int Version = 1;

// Creates what is missing, in one transaction; false when the database cannot hold the tables (it
// is damaged, or not a database) or is of a newer version than this program knows.
bool create(QSqlDatabase& database);

} // namespace HistorySchema
