#pragma once

#include "HistoryFilter.h"
#include "HistoryKinds.h"
#include "HistorySchema.h"
#include "IpAddress.h"

#include <QSqlDatabase>
#include <QSqlQuery>

// A history of eight incidents written straight into the tables, each source a case of the
// filters: a host seen twice (an old flood, a recent connection), its /24 neighbour, a mapped
// prefix's worth of IPv4, two IPv6 networks, a port scan, a UDP probe. Their ids are 1 to 8 in
// the order they began, after `fillers` older connections from 10.0.0.0/16 on port 8080.
namespace KnownHistory {

struct Incident
{
    const char* address;
    int minutesAgo;
    const char* ports;
    unsigned kinds;
    int count;
    HistoryState state;
};

inline constexpr unsigned Connect = HistoryKinds::of(Event::Detection::Connect);
inline const Incident Incidents[] = {
    { "192.0.2.7", 960 * 60, "22", HistoryKinds::Flood | HistoryKinds::of(Event::Detection::HalfOpen), 50000,
        HistoryState::Alarm },
    { "2001:db8:1::5", 240 * 60, "22", Connect, 3, HistoryState::Alarm },
    { "203.0.113.9", 120 * 60, "21,22,23",
        HistoryKinds::PortScan | HistoryKinds::of(Event::Detection::HalfOpen), 30, HistoryState::Blocked },
    { "198.51.100.1", 30 * 60, "161/udp", HistoryKinds::of(Event::Detection::Udp), 1, HistoryState::Alarm },
    { "2001:db8::1", 180, "80", HistoryKinds::of(Event::Detection::Xmas), 2, HistoryState::Alarm },
    { "192.0.2.200", 120, "23", HistoryKinds::of(Event::Detection::HalfOpen), 1, HistoryState::Alarm },
    { "2001:db9::1", 60, "445", HistoryKinds::of(Event::Detection::Fin), 1, HistoryState::Alarm },
    { "192.0.2.7", 30, "22,2222", Connect, 4, HistoryState::Allowed },
};

inline QByteArray key(const char* address)
{
    return HistoryFilter::addressKey(*IpAddress::parse(QString::fromLatin1(address)));
}

// Every incident lasts a minute; times in ms since the epoch, UTC, seen at UTC+01:00.
inline bool write(QSqlDatabase& database, qint64 now, int fillers = 0)
{
    QSqlQuery query(database);
    bool ok = HistorySchema::create(database) && database.transaction()
        && query.exec(QStringLiteral(
            "WITH RECURSIVE n(i) AS (SELECT 1 WHERE %1 > 0 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
            "INSERT INTO incidents(id, address, first, last, ports, kinds, count) "
            "SELECT i, CAST(X'00000000000000000000FFFF0A00' || randomblob(2) AS BLOB), "
            "%2 + i, %2 + i, '8080', %3, 1 FROM n")
                          .arg(fillers)
                          .arg(now - 2000LL * 3600 * 1000)
                          .arg(Connect));
    ok = ok
        && query.exec(
            QStringLiteral("INSERT INTO incident_ports(port, incident) SELECT 8080, id FROM incidents"));
    qint64 id = fillers;
    for (const Incident& incident : Incidents) {
        const qint64 first = now - qint64(incident.minutesAgo) * 60 * 1000;
        query.prepare(QStringLiteral("INSERT INTO incidents VALUES (?, ?, ?, ?, 3600, ?, ?, ?, 1, ?, ?)"));
        for (const QVariant& value :
            { QVariant(++id), QVariant(key(incident.address)), QVariant(first), QVariant(first + 60000),
                QVariant(QLatin1String(incident.ports)), QVariant(incident.kinds), QVariant(incident.count),
                QVariant((incident.kinds & Connect) == 0), QVariant(int(incident.state)) })
            query.addBindValue(value);
        ok = ok && query.exec();
        for (const QString& port : QString::fromLatin1(incident.ports).split(u','))
            ok = ok
                && query.exec(QStringLiteral("INSERT INTO incident_ports VALUES (%1, %2)")
                                  .arg(port.section(u'/', 0, 0).toInt())
                                  .arg(id));
    }
    // 2001:db9::1 has no source row: its summary is added up from its incidents.
    ok = ok
        && query.exec(QStringLiteral(
            "INSERT INTO sources(address, text, first, last, count, incidents, kinds, country, asn) "
            "SELECT address, '', min(first), max(last), sum(count), count(*), max(kinds), 'NL', 64501 FROM "
            "incidents "
            "WHERE id > %1 AND address != X'20010db9000000000000000000000001' GROUP BY address")
                          .arg(fillers))
        && query.exec(
            QStringLiteral("UPDATE sources SET country = 'DE', asn = 64500, kinds = %1 WHERE address = X'%2'")
                .arg(Incidents[0].kinds | Connect)
                .arg(QString::fromLatin1(key("192.0.2.7").toHex())))
        && query.exec(QStringLiteral(
            "INSERT INTO networks VALUES (64500, 'Carrier, \"Backbone\" AG'), (64501, 'Tiny ISP')"));
    for (const Incident& incident : Incidents)
        ok = ok
            && query.exec(QStringLiteral("UPDATE sources SET text = '%1' WHERE address = X'%2'")
                              .arg(QLatin1String(incident.address),
                                  QString::fromLatin1(key(incident.address).toHex())));
    return ok && database.commit();
}

} // namespace KnownHistory
