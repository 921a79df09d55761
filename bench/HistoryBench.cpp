// The history's figures on a store of a month of attacks.
//   sentrel-historybench fill <folder>/history.sqlite [--intrusions 1000000] [--sources 50000] [--days 30]
//     fills a new store through the program's own writer and prints its bytes per intrusion, then
//     those of a folded flood (in <folder>/flood);
//   sentrel-historybench query <history.sqlite> [--repeat 5] [--plans]
//     opens it as the window and the command line do and prints the time of the first page and of
//     each filter (the best of --repeat runs, page and count apart); --plans adds how each page
//     is read. Under
//     valgrind --tool=callgrind --collect-atstart=no each query is collected alone and dumped
//     under its name, so that the dumps give instructions per query.
// Addresses are drawn from a fixed seed: two runs fill the same store.

#include "HistoryKinds.h"
#include "HistoryQuery.h"
#include "HistoryWriter.h"
#include "IpAddress.h"

#include <QCoreApplication>
#include <QDir>
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

// The attackers of a month: most IPv4 from anywhere, a tenth IPv6 from one /32, a few hundred from
// each documentation network, so that the prefixes measured match hundreds to a hundred thousand.
std::vector<IpAddress> makeSources(int count, std::mt19937_64& random)
{
    std::vector<IpAddress> sources(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        IpAddress& source = sources[std::size_t(i)];
        if (i % 10 == 9) {
            std::uint8_t bytes[16] = { 0x20, 0x01, 0x0d, 0xb8 };
            for (int b = 4; b < 16; ++b)
                bytes[b] = std::uint8_t(random());
            source = IpAddress::fromIpv6Exact(bytes);
        } else if (i % 100 < 3) {
            static const quint32 Documentation[] = { 0xc0000200, 0xc6336400, 0xcb007100 };
            source = IpAddress::fromIpv4(Documentation[i % 100] | quint32(random() % 256));
        } else {
            source = IpAddress::fromIpv4(quint32(random() % 0xdf000000u) + 0x01000000u);
        }
    }
    return sources;
}

// The database's bytes once the writer has closed it (its journal folded in).
qint64 closedSize(HistoryWriter& writer)
{
    const QString path = writer.path();
    writer.close();
    return QFileInfo(path).size();
}

HistoryWriter::Limits roomy()
{
    HistoryWriter::Limits limits;
    limits.sizeMb = 4096; // nothing of the month pruned by size
    return limits;
}

// A forged flood folded as the pipeline folds it, one record a second, each counting a thousand
// half-open probes from as many sources: what it costs the store per probe.
void floodCost(const QString& folder, qint64 seconds)
{
    QDir(folder).removeRecursively();
    qint64 now = End - seconds * 1000;
    HistoryWriter writer(folder, [&now] { return now; });
    writer.setLimits(roomy());
    writer.open();
    const qint64 empty = closedSize(writer);
    writer.open();
    std::mt19937_64 random(37);
    HistoryBatch batch;
    for (qint64 second = 0; second < seconds; ++second, now += 1000) {
        HistoryEntry entry;
        entry.kind = Event::Kind::Flood;
        entry.time = now;
        entry.utcOffset = 3600;
        entry.address = IpAddress::fromIpv4(quint32(random())).toString();
        entry.port = int(1 + random() % 1024);
        entry.detection = Event::Detection::HalfOpen;
        entry.probes = 1000;
        entry.sources = 1000;
        batch.push_back(entry);
        if (batch.size() == 60)
            writer.write(std::exchange(batch, {}));
    }
    writer.write(batch);
    const qint64 bytes = closedSize(writer) - empty;
    std::printf("  a flood of %lld probes (%lld records of 1,000): %lld bytes, %.4f bytes per folded probe\n",
        seconds * 1000, seconds, bytes, double(bytes) / double(seconds * 1000));
}

int fill(const QString& path, const QStringList& arguments)
{
    const int intrusions
        = option(arguments, QStringLiteral("--intrusions"), QStringLiteral("1000000")).toInt();
    const int sourceCount = option(arguments, QStringLiteral("--sources"), QStringLiteral("50000")).toInt();
    const int days = option(arguments, QStringLiteral("--days"), QStringLiteral("30")).toInt();
    const QFileInfo file(path);
    if (file.fileName() != HistoryWriter::fileName()) {
        std::fprintf(stderr, "the store's file is named %s\n", qPrintable(HistoryWriter::fileName()));
        return 2;
    }
    for (const char* suffix : { "", "-wal", "-shm" })
        QFile::remove(path + QLatin1String(suffix));

    std::mt19937_64 random(35);
    const std::vector<IpAddress> sources = makeSources(sourceCount, random);
    std::vector<QString> texts;
    for (const IpAddress& source : sources)
        texts.push_back(source.toString());
    // Times in order, as the pipeline hands them over.
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
        { Event::Detection::HalfOpen, 0.85 }, { Event::Detection::Udp, 0.93 },
        { Event::Detection::Fin, 0.95 }, { Event::Detection::Null, 0.97 }, { Event::Detection::Xmas, 0.99 },
        { Event::Detection::Fragment, 1.0 } };

    qint64 now = start;
    HistoryWriter writer(file.absolutePath(), [&now] { return now; });
    writer.setLimits(roomy());
    if (!writer.open()) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(path));
        return 1;
    }
    QElapsedTimer timer;
    timer.start();
    HistoryBatch batch;
    for (int i = 0; i < intrusions; ++i) {
        const double draw = uniform(random);
        const std::size_t source = std::size_t(draw * draw * sourceCount) % sources.size();
        const double kindDraw = uniform(random);
        HistoryEntry entry;
        entry.time = now = times[std::size_t(i)];
        entry.utcOffset = 3600;
        entry.address = texts[source];
        entry.detection = std::find_if(std::begin(Kinds), std::end(Kinds), [&](const auto& k) {
            return kindDraw <= k.second;
        })->first;
        entry.port = random() % 4 == 0 ? int(1 + random() % 65535) : Ports[random() % std::size(Ports)];
        batch.push_back(std::move(entry));
        if (batch.size() == 1000)
            writer.write(std::exchange(batch, {}));
    }
    writer.write(batch);
    const HistoryWriter::Stats stats = writer.stats();
    const double seconds = timer.elapsed() / 1000.0;
    const qint64 bytes = closedSize(writer);
    QSqlDatabase database = HistoryQuery::openForReading(path, QStringLiteral("fill"));
    QSqlQuery count(database);
    const qint64 incidents = count.exec(QStringLiteral("SELECT count(*) FROM incidents")) && count.next()
        ? count.value(0).toLongLong()
        : -1;
    std::printf("filled %s through the writer: %d intrusions from %d sources over %d days in %.1f s "
                "(%.0f a second; %llu written, %llu lost), %lld incidents\n",
        qPrintable(path), intrusions, sourceCount, days, seconds, intrusions / seconds,
        (unsigned long long)stats.written, (unsigned long long)stats.lost, incidents);
    std::printf("  database: %lld bytes, %.1f bytes per intrusion\n", bytes, double(bytes) / intrusions);
    floodCost(file.absolutePath() + QStringLiteral("/flood"), 3600);
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
    std::printf("first page (cold): %lld rows in %.1f ms, opening included\n", first.size(),
        timer.nsecsElapsed() / 1e6);

    auto filter = [](auto&& set) {
        HistoryFilter f;
        set(f);
        return f;
    };
    const std::vector<Measured> cases = {
        { "first page", {} },
        { "prefix 203.0.113.0/24",
            filter([](HistoryFilter& f) { f.addresses = HistoryFilter::parseAddress(u"203.0.113.0/24"); }) },
        { "address 198.51.100.7",
            filter([](HistoryFilter& f) { f.addresses = HistoryFilter::parseAddress(u"198.51.100.7"); }) },
        { "prefix 2001:db8::/32",
            filter([](HistoryFilter& f) { f.addresses = HistoryFilter::parseAddress(u"2001:db8::/32"); }) },
        { "prefix 0.0.0.0/0",
            filter([](HistoryFilter& f) { f.addresses = HistoryFilter::parseAddress(u"0.0.0.0/0"); }) },
        { "port 22", filter([](HistoryFilter& f) { f.port = 22; }) },
        { "port 31337", filter([](HistoryFilter& f) { f.port = 31337; }) },
        { "kind xmas", filter([](HistoryFilter& f) { f.kinds = *HistoryFilter::parseKinds(u"xmas"); }) },
        { "kind fragment",
            filter([](HistoryFilter& f) { f.kinds = *HistoryFilter::parseKinds(u"fragment"); }) },
        { "kind connect",
            filter([](HistoryFilter& f) { f.kinds = *HistoryFilter::parseKinds(u"connect"); }) },
        { "since 24h", filter([](HistoryFilter& f) { f.since = End - 24 * HourMs; }) },
        { "text \"203.0.113.\"", filter([](HistoryFilter& f) { f.text = u"203.0.113."_qs; }) },
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
