#pragma once

#include "HistoryQuery.h"

#include <QByteArray>

class QIODevice;

// The incidents a filter matches, written out one row at a time as they are read: CSV for
// spreadsheets (RFC 4180: CRLF line ends, fields quoted where they hold a comma, a quote or a
// line end), or JSON lines carrying the field names of the event log's "incident_ended" records
// (time, event, incident, address, first, last, ports, count) and what the history adds (family,
// detection, spoofable, sources, state, country, asn, owner).
namespace HistoryExport {

enum class Format { Csv, JsonLines };

// Writes the header (CSV) and every matching row to out; false when the query or a write fails,
// with the reason in error.
bool write(HistoryQuery& query, const HistoryFilter& filter, const HistorySort& sort, Format format,
    QIODevice& out, QString* error = nullptr);

QByteArray csvHeader();
QByteArray csvLine(const HistoryIncident& incident);
QByteArray jsonLine(const HistoryIncident& incident);
// RFC 3339 with milliseconds at the offset given: "2026-12-08T19:15:54.123+01:00".
QByteArray timestamp(qint64 msSinceEpoch, int utcOffset);
const char* stateName(HistoryState state);

} // namespace HistoryExport
