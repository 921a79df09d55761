// The history's figures on a store of a month of attacks.
//   sentrel-historybench fill <history.sqlite> [--intrusions 1000000] [--sources 50000] [--days 30]
//     fills a new store and prints its bytes per intrusion;
//   sentrel-historybench query <history.sqlite> [--repeat 5] [--plans]
//     opens it as the window and the command line do and prints the time of the first page and of
//     each filter (the best of --repeat runs, page and count apart); --plans adds how each page
//     is read. Under
//     valgrind --tool=callgrind --collect-atstart=no each query is collected alone and dumped
//     under its name, so that the dumps give instructions per query.
// Addresses are drawn from a fixed seed: two runs fill the same store.

#include "HistoryKinds.h"
#include "HistoryQuery.h"
#include "HistorySchema.h"
#include "IpAddress.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <valgrind/callgrind.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <random>
#include <vector>

namespace {
constexpr qint64 HourMs = 3600 * 1000;
// Where a store's month ends: a fixed moment, so that "the last 24 hours" holds the same rows.
constexpr qint64 End = 1796000000000;

QString option(const QStringList& arguments, const QString& name, const QString& fallback)
{
    const qsizetype at = arguments.indexOf(name);
    return at >= 0 && at + 1 < arguments.size() ? arguments[at + 1] : fallback;
}

struct Source
{
    IpAddress address;
    qint64 first = 0;
    qint64 last = 0;
    qint64 count = 0;
    qint64 incidents = 0;
    unsigned kinds = 0;
    QString country;
    quint32 asn = 0;
};

// The attackers of a month: most IPv4 from anywhere, a tenth IPv6 from one /32, a few hundred from
// each documentation network, so that the prefixes measured match hundreds to a hundred thousand.
std::vector<Source> makeSources(int count, std::mt19937_64& random)
{
    static const char* Countries[] = { "CN", "US", "RU", "DE", "BR", "IN", "NL", "VN", "KR", "FR" };
    std::vector<Source> sources(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        Source& source = sources[std::size_t(i)];
        if (i % 10 == 9) {
            std::uint8_t bytes[16] = { 0x20, 0x01, 0x0d, 0xb8 };
            for (int b = 4; b < 16; ++b)
                bytes[b] = std::uint8_t(random());
            source.address = IpAddress::fromIpv6Exact(bytes);
        } else if (i % 100 < 3) {
            static const quint32 Documentation[] = { 0xc0000200, 0xc6336400, 0xcb007100 };
            source.address = IpAddress::fromIpv4(Documentation[i % 100] | quint32(random() % 256));
        } else {
            source.address = IpAddress::fromIpv4(quint32(random() % 0xdf000000u) + 0x01000000u);
        }
        source.country = QLatin1String(Countries[random() % std::size(Countries)]);
        source.asn = quint32(64496 + random() % 500);
    }
    return sources;
}

bool exec(QSqlQuery& query, const char* what)
{
    if (query.exec())
        return true;
    std::fprintf(stderr, "%s: %s\n", what, qPrintable(query.lastError().text()));
    return false;
}

int fill(const QString& path, const QStringList& arguments)
{
    const int intrusions = option(arguments, QStringLiteral("--intrusions"), QStringLiteral("1000000")).toInt();
    const int sourceCount = option(arguments, QStringLiteral("--sources"), QStringLiteral("50000")).toInt();
    const int days = option(arguments, QStringLiteral("--days"), QStringLiteral("30")).toInt();
    QFile::remove(path);
    QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("fill"));
    database.setDatabaseName(path);
    if (!database.open() || !HistorySchema::create(database)) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(path));
        return 1;
    }
    QSqlQuery pragma(database);
    pragma.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
    pragma.finish(); // a statement left open keeps every commit from happening

    std::mt19937_64 random(35);
    std::vector<Source> sources = makeSources(sourceCount, random);
    // Times in order: the store numbers incidents as they begin.
    std::vector<qint64> times(static_cast<std::size_t>(intrusions));
    const qint64 start = End - days * 24 * HourMs;
    for (qint64& time : times)
        time = start + qint64(random() % quint64(End - start));
    std::sort(times.begin(), times.end());
    // A few sources send most: the square of a uniform draw leans to the low indexes.
    std::uniform_real_distribution<double> uniform(0, 1);
    static const int Ports[] = { 22, 23, 80, 443, 445, 3389, 8080, 21, 25, 5900, 1433, 3306, 137, 161, 53 };
    // Kinds by share: connect, half-open, udp, then the rare stealth probes.
    static const std::pair<Event::Detection, double> Kinds[] = { { Event::Detection::Connect, 0.60 },
        { Event::Detection::HalfOpen, 0.85 }, { Event::Detection::Udp, 0.93 }, { Event::Detection::Fin, 0.95 },
        { Event::Detection::Null, 0.97 }, { Event::Detection::Xmas, 0.99 }, { Event::Detection::Fragment, 1.0 } };

    QSqlQuery incident(database);
    incident.prepare(QStringLiteral("INSERT INTO incidents(id, address, first, last, utc_offset, ports, kinds, count, "
                                    "sources, spoofable, state) VALUES (?, ?, ?, ?, 3600, ?, ?, ?, 1, ?, ?)"));
    QSqlQuery port(database);
    port.prepare(QStringLiteral("INSERT OR IGNORE INTO incident_ports(port, incident) VALUES (?, ?)"));
    std::map<std::tuple<qint64, int, int>, qint64> hourly;
    QElapsedTimer timer;
    timer.start();
    database.transaction();
    for (int i = 0; i < intrusions; ++i) {
        const double draw = uniform(random);
        Source& source = sources[std::size_t(draw * draw * sourceCount) % sources.size()];
        const double kindDraw = uniform(random);
        const Event::Detection detection
            = std::find_if(std::begin(Kinds), std::end(Kinds), [&](const auto& k) { return kindDraw <= k.second; })->first;
        const int portNumber = random() % 4 == 0 ? int(1 + random() % 65535) : Ports[random() % std::size(Ports)];
        const unsigned kinds = HistoryKinds::of(detection);
        const QString ports = QString::number(portNumber) + (detection == Event::Detection::Udp ? u"/udp"_qs : QString());
        const qint64 time = times[std::size_t(i)];
        incident.addBindValue(i + 1);
        incident.addBindValue(HistoryFilter::addressKey(source.address));
        incident.addBindValue(time);
        incident.addBindValue(time + qint64(random() % 5000));
        incident.addBindValue(ports);
        incident.addBindValue(kinds);
        incident.addBindValue(1);
        incident.addBindValue(detection != Event::Detection::Connect);
        incident.addBindValue(random() % 50 == 0 ? int(HistoryState::Blocked) : int(HistoryState::Alarm));
        port.addBindValue(portNumber);
        port.addBindValue(i + 1);
        if (!exec(incident, "incident") || !exec(port, "port"))
            return 1;
        source.first = source.first ? source.first : time;
        source.last = time;
        ++source.count;
        ++source.incidents;
        source.kinds |= kinds;
        ++hourly[{ time / HourMs, int(detection), portNumber }];
        if (i % 50000 == 49999) {
            database.commit();
            database.transaction();
        }
    }
    QSqlQuery row(database);
    row.prepare(QStringLiteral("INSERT OR REPLACE INTO sources(address, text, first, last, count, incidents, kinds, "
                               "country, asn) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    for (const Source& source : sources) {
        if (source.count == 0)
            continue;
        row.addBindValue(HistoryFilter::addressKey(source.address));
        row.addBindValue(source.address.toString());
        row.addBindValue(source.first);
        row.addBindValue(source.last);
        row.addBindValue(source.count);
        row.addBindValue(source.incidents);
        row.addBindValue(source.kinds);
        row.addBindValue(source.country);
        row.addBindValue(source.asn);
        if (!exec(row, "source"))
            return 1;
    }
    QSqlQuery network(database);
    network.prepare(QStringLiteral("INSERT OR REPLACE INTO networks(asn, name) VALUES (?, ?)"));
    for (quint32 asn = 64496; asn < 64996; ++asn) {
        network.addBindValue(asn);
        network.addBindValue(QStringLiteral("Example Network %1").arg(asn));
        if (!exec(network, "network"))
            return 1;
    }
    QSqlQuery hour(database);
    hour.prepare(QStringLiteral("INSERT INTO hourly(hour, kind, port, count) VALUES (?, ?, ?, ?)"));
    for (const auto& [key, count] : hourly) {
        hour.addBindValue(std::get<0>(key));
        hour.addBindValue(std::get<1>(key));
        hour.addBindValue(std::get<2>(key));
        hour.addBindValue(count);
        if (!exec(hour, "hourly"))
            return 1;
    }
    if (!database.commit()) {
        std::fprintf(stderr, "commit: %s\n", qPrintable(database.lastError().text()));
        return 1;
    }
    pragma.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
    pragma.finish();
    database.close();
    const qint64 bytes = QFileInfo(path).size();
    std::printf("filled %s: %d intrusions from %d sources over %d days in %.1f s (the schema's own inserts)\n",
        qPrintable(path), intrusions, sourceCount, days, timer.elapsed() / 1000.0);
    std::printf("  database: %lld bytes, %.1f bytes per intrusion\n", bytes, double(bytes) / intrusions);
    return 0;
}

struct Measured
{
    const char* name;
    HistoryFilter filter;
};

int query(const QString& path, const QStringList& arguments)
{
    const int repeat = option(arguments, QStringLiteral("--repeat"), QStringLiteral("5")).toInt();
    QElapsedTimer timer;
    timer.start();
    HistoryQuery history(HistoryQuery::openForReading(path, QStringLiteral("query")));
    const QList<HistoryIncident> first = history.incidents({});
    std::printf("first page (cold): %lld rows in %.1f ms, opening included\n", first.size(), timer.nsecsElapsed() / 1e6);

    auto filter = [](auto&& set) {
        HistoryFilter f;
        set(f);
        return f;
    };
    const std::vector<Measured> cases = {
        { "first page", {} },
        { "prefix 203.0.113.0/24", filter([](HistoryFilter& f) { f.addresses = HistoryFilter::parseAddress(u"203.0.113.0/24"); }) },
        { "address 198.51.100.7", filter([](HistoryFilter& f) { f.addresses = HistoryFilter::parseAddress(u"198.51.100.7"); }) },
        { "prefix 2001:db8::/32", filter([](HistoryFilter& f) { f.addresses = HistoryFilter::parseAddress(u"2001:db8::/32"); }) },
        { "prefix 0.0.0.0/0", filter([](HistoryFilter& f) { f.addresses = HistoryFilter::parseAddress(u"0.0.0.0/0"); }) },
        { "port 22", filter([](HistoryFilter& f) { f.port = 22; }) },
        { "port 31337", filter([](HistoryFilter& f) { f.port = 31337; }) },
        { "kind xmas", filter([](HistoryFilter& f) { f.kinds = *HistoryFilter::parseKinds(u"xmas"); }) },
        { "kind fragment", filter([](HistoryFilter& f) { f.kinds = *HistoryFilter::parseKinds(u"fragment"); }) },
        { "kind connect", filter([](HistoryFilter& f) { f.kinds = *HistoryFilter::parseKinds(u"connect"); }) },
        { "since 24h", filter([](HistoryFilter& f) { f.since = End - 24 * HourMs; }) },
        { "text \"Network 64500\"", filter([](HistoryFilter& f) { f.text = u"Network 64500"_qs; }) },
    };
    std::printf("%-26s %12s %8s %12s %10s\n", "query (100 rows)", "page ms", "rows", "count ms", "matches");
    for (const Measured& measured : cases) {
        double page = 1e9;
        double count = 1e9;
        qsizetype rows = 0;
        qint64 matches = 0;
        for (int run = 0; run < repeat; ++run) {
            timer.restart();
            CALLGRIND_TOGGLE_COLLECT;
            rows = history.incidents(measured.filter).size();
            CALLGRIND_TOGGLE_COLLECT;
            page = std::min(page, timer.nsecsElapsed() / 1e6);
            if (run == 0)
                CALLGRIND_DUMP_STATS_AT((QByteArray("page: ") + measured.name).constData());
            timer.restart();
            CALLGRIND_TOGGLE_COLLECT;
            matches = history.count(measured.filter);
            CALLGRIND_TOGGLE_COLLECT;
            count = std::min(count, timer.nsecsElapsed() / 1e6);
            if (run == 0)
                CALLGRIND_DUMP_STATS_AT((QByteArray("count: ") + measured.name).constData());
        }
        std::printf("%-26s %12.2f %8lld %12.2f %10lld\n", measured.name, page, rows, count, matches);
        if (arguments.contains(u"--plans"_qs))
            std::printf("    plan: %s\n", qPrintable(history.plan(measured.filter).join(u"; "_qs)));
    }
    timer.restart();
    const HistoryCharts charts = history.charts(End, 3600);
    std::printf("charts: %.1f ms (%lld probes in 30 days, %lld spoofable)\n", timer.nsecsElapsed() / 1e6,
        charts.probes, charts.spoofableProbes);
    if (!history.lastError().isEmpty())
        std::printf("error: %s\n", qPrintable(history.lastError()));
    return 0;
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() >= 3 && arguments[1] == u"fill")
        return fill(arguments[2], arguments);
    if (arguments.size() >= 3 && arguments[1] == u"query")
        return query(arguments[2], arguments);
    std::fprintf(stderr, "usage: sentrel-historybench fill|query <history.sqlite> [options]\n");
    return 2;
}
