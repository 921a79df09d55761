#include "HistoryExport.h"
#include "HistoryQuery.h"
#include "KnownHistory.h"

#include <numeric>

namespace {
constexpr qint64 Now = 1800000000000; // 2027-01-15 08:00 UTC
constexpr qint64 MinuteMs = 60 * 1000;
// More older connections than a page walks past before it takes an index instead, so that both ways
// of reading a filter are taken.
constexpr int Fillers = 10001;

// The ids of the known incidents (1 to 8) and of the newest fillers that follow them, newest first.
QList<qint64> expectedIds(const QList<int>& known, int fillers, int shown)
{
    QList<qint64> ids;
    for (const int index : known)
        ids += Fillers + index;
    for (int i = 0; i < std::min(fillers, shown); ++i)
        ids += Fillers - i;
    return ids;
}

QList<qint64> idsOf(const QList<HistoryIncident>& rows)
{
    QList<qint64> ids;
    for (const HistoryIncident& row : rows)
        ids += row.id;
    return ids;
}

} // namespace

Q_DECLARE_METATYPE(HistoryFilter)

class TestHistoryQuery : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_folder.isValid());
        {
            QSqlDatabase database = QSqlDatabase::addDatabase("QSQLITE", "known");
            database.setDatabaseName(m_folder.filePath("history.sqlite"));
            QVERIFY(database.open() && KnownHistory::write(database, Now, Fillers));
            // (hours ago, kind index, port, probes): this hour, the last, 10 and 23 hours ago (today
            // or yesterday depending on the zone), 24 hours ago, and 31 days ago (beyond the charts).
            QVERIFY(QSqlQuery(database).exec(QStringLiteral(
                "INSERT INTO hourly SELECT %1 - column1, column2, column3, column4 FROM (VALUES "
                "(0, 0, 22, 5), (1, 5, 161, 3), (10, 2, 21, 1), (23, 4, 80, 2), (24, 0, 22, 7), "
                "(744, 0, 9, 100))")
                                                 .arg(Now / (60 * MinuteMs))));
        }
        QSqlDatabase::removeDatabase("known");
        m_query.emplace(HistoryQuery::openForReading(m_folder.filePath("history.sqlite"), "reader"));
    }

    void filters_data()
    {
        QTest::addColumn<HistoryFilter>("filter");
        QTest::addColumn<QList<int>>("known"); // newest first
        QTest::addColumn<int>("fillers"); // how many of the older connections match too
        const auto row = [](const char* name, const char* address, int port, const char* kinds, int since,
                             int until, const char* text, const QList<int>& known, int fillers = 0) {
            HistoryFilter filter;
            if (*address)
                filter.addresses = HistoryFilter::parseAddress(QString(address));
            filter.port = port;
            filter.kinds = *kinds ? HistoryFilter::parseKinds(QString(kinds)).value() : 0;
            filter.since = since ? Now - since * MinuteMs : 0;
            filter.until = until ? Now - until * MinuteMs : 0;
            filter.text = QString(text);
            QTest::newRow(name) << filter << known << fillers;
        };
        row("everything", "", 0, "", 0, 0, "", { 8, 7, 6, 5, 4, 3, 2, 1 }, Fillers);
        row("IPv4 host", "192.0.2.7", 0, "", 0, 0, "", { 8, 1 });
        row("IPv4 /24", "192.0.2.0/24", 0, "", 0, 0, "", { 8, 6, 1 });
        row("IPv4 /31, host bits ignored", "192.0.2.201/31", 0, "", 0, 0, "", { 6 });
        row("IPv4 mapped /120", "::ffff:192.0.2.0/120", 0, "", 0, 0, "", { 8, 6, 1 });
        row("all IPv4, walked", "0.0.0.0/0", 0, "", 0, 0, "", { 8, 6, 4, 3, 1 }, Fillers);
        row("10/8, walked", "10.0.0.0/8", 0, "", 0, 0, "", {}, Fillers);
        row("IPv6 /32", "2001:db8::/32", 0, "", 0, 0, "", { 5, 2 });
        row("IPv6 /48", "2001:db8::/48", 0, "", 0, 0, "", { 5 });
        row("IPv6 host", "2001:db9::1", 0, "", 0, 0, "", { 7 });
        row("port", "", 22, "", 0, 0, "", { 8, 3, 2, 1 });
        row("second port of an incident", "", 2222, "", 0, 0, "", { 8 });
        row("UDP port", "", 161, "", 0, 0, "", { 4 });
        row("port of the fillers", "", 8080, "", 0, 0, "", {}, Fillers);
        row("kind, walked", "", 0, "connect", 0, 0, "", { 8, 2 }, Fillers);
        row("kinds, any of", "", 0, "udp,xmas", 0, 0, "", { 5, 4 });
        row("kind through its index", "", 0, "half_open", 0, 0, "", { 6, 3, 1 });
        row("scan", "", 0, "port_scan", 0, 0, "", { 3 });
        row("flood", "", 0, "flood", 0, 0, "", { 1 });
        row("kind never seen", "", 0, "null", 0, 0, "", {});
        row("since a day", "", 0, "", 24 * 60, 0, "", { 8, 7, 6, 5 });
        row("still going at the limit", "", 0, "", 29, 0, "", { 8 });
        row("until", "", 0, "", 0, 100 * 60, "", { 3, 2, 1 }, Fillers);
        row("begun by the limit", "", 0, "", 0, 30, "", { 8, 7, 6, 5, 4, 3, 2, 1 }, Fillers);
        row("since and until", "", 0, "", 200 * 60, 100 * 60, "", { 3 });
        row("text: country", "", 0, "", 0, 0, "de", { 8, 1 });
        row("text: owner", "", 0, "", 0, 0, "BACKBONE", { 8, 1 });
        row("text: address", "", 0, "", 0, 0, "2001:db8:", { 5, 2 });
        row("text: ports", "", 0, "", 0, 0, "161/udp", { 4 });
        row("text: wildcards are plain", "", 0, "", 0, 0, "%", {});
        row("port and prefix", "2001:db8::/32", 22, "", 0, 0, "", { 2 });
        row("port and kind", "", 22, "connect", 0, 0, "", { 8, 2 });
        row("kind and since", "", 0, "half_open", 3 * 60, 0, "", { 6 });
        row("prefix and kind", "192.0.2.0/24", 0, "half_open", 0, 0, "", { 6, 1 });
    }

    // Each filter's matches, newest first, in pages after the previous page's last row; and their count.
    void filters()
    {
        QFETCH(HistoryFilter, filter);
        QFETCH(QList<int>, known);
        QFETCH(int, fillers);
        const QList<qint64> expected = expectedIds(known, fillers, 5);
        QList<HistoryIncident> rows = m_query->incidents(filter, {}, 0, 3);
        for (QList<HistoryIncident> page = rows; page.size() == 3 && rows.size() < expected.size();) {
            page = m_query->incidentsAfter(filter, {}, page.last(), 3);
            rows += page;
        }
        QCOMPARE(idsOf(rows.mid(0, expected.size())), expected);
        QCOMPARE(m_query->count(filter), known.size() + fillers);
        QCOMPARE(m_query->lastError(), QString());
    }

    void parsing_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("parsed"); // the range's ends in hex, the number, or "" for a mistake
        const auto row = [](const char* what, const char* text, const char* parsed) {
            QTest::addRow("%s %s", what, text) << QString(what) << QString(text) << QString(parsed);
        };
        row("address", "192.0.2.77/24", "00000000000000000000ffffc0000200-00000000000000000000ffffc00002ff");
        row("address", "2001:db8:ffff::/33",
            "20010db8800000000000000000000000-20010db8ffffffffffffffffffffffff");
        row("address", "::ffff:192.0.2.1",
            "00000000000000000000ffffc0000201-00000000000000000000ffffc0000201");
        for (const char* wrong :
            { "192.0.2.0/33", "2001:db8::/129", "10.1", "192.0.2.0/", "192.0.2.0/-1", "" })
            row("address", wrong, "");
        row("age", "30m", "1800000");
        row("age", " 7d ", "604800000");
        for (const char* wrong : { "0h", "h", "24", "5x", "-3d", "99999999d" })
            row("age", wrong, "");
        row("kinds", "udp, XMAS port_scan", "176"); // bits 5, 4 and 7
        row("kinds", "udp,syn", "");
        row("port", "65535", "65535");
        row("port", "0", "");
        row("port", "65536", "");
    }

    void parsing()
    {
        QFETCH(QString, what);
        QFETCH(QString, text);
        const auto number = [](const auto& value) { return value ? QString::number(*value) : QString(); };
        const auto range = HistoryFilter::parseAddress(text);
        const QString parsed = what == "address"
            ? (range ? QString(range->low.toHex() + '-' + range->high.toHex()) : QString())
            : what == "age"   ? number(HistoryFilter::parseAge(text))
            : what == "kinds" ? number(HistoryFilter::parseKinds(text))
                              : number(HistoryFilter::parsePort(text));
        QTEST(parsed, "parsed");
    }

    // Sorted by a column, by offset and by keyset alike; ties go by id in the same direction.
    void sorting_data()
    {
        QTest::addColumn<HistoryColumn>("column");
        QTest::addColumn<bool>("descending");
        QTest::addColumn<QList<int>>("known");
        QTest::newRow("count") << HistoryColumn::Count << true << QList<int> { 1, 3, 8, 2, 5, 7, 6, 4 };
        QTest::newRow("address") << HistoryColumn::Address << false << QList<int> { 1, 8, 6, 4, 3, 5, 2, 7 };
        QTest::newRow("owner") << HistoryColumn::Owner << false << QList<int> { 7, 1, 8, 2, 3, 4, 5, 6 };
        QTest::newRow("state") << HistoryColumn::State << true << QList<int> { 8, 3, 7, 6, 5, 4, 2, 1 };
        QTest::newRow("time, oldest first")
            << HistoryColumn::Time << false << QList<int> { 1, 2, 3, 4, 5, 6, 7, 8 };
    }

    void sorting()
    {
        QFETCH(HistoryColumn, column);
        QFETCH(bool, descending);
        QFETCH(QList<int>, known);
        HistoryFilter filter;
        filter.since = Now - 1000 * 60 * MinuteMs; // the fillers are older
        const HistorySort sort { column, descending };
        // Pages of one row: every row, the one without a network owner too, is once the key of the next.
        QList<HistoryIncident> byKey = m_query->incidents(filter, sort, 0, 1);
        QList<HistoryIncident> byOffset = byKey;
        while (byKey.size() < 9) {
            const QList<HistoryIncident> page = m_query->incidentsAfter(filter, sort, byKey.last(), 1);
            if (page.isEmpty())
                break;
            byKey += page;
            byOffset += m_query->incidents(filter, sort, byOffset.size(), 1);
        }
        QCOMPARE(idsOf(byKey), expectedIds(known, 0, 0));
        QCOMPARE(idsOf(byOffset), idsOf(byKey));
    }

    void source()
    {
        const std::optional<HistorySourceSummary> host = m_query->source(KnownHistory::key("192.0.2.7"));
        QVERIFY(host);
        QCOMPARE(idsOf(host->incidents), expectedIds({ 8, 1 }, 0, 0));
        QCOMPARE(std::tuple(host->count, host->first, host->ports, host->owner),
            std::tuple(
                50004, Now - 960 * 60 * MinuteMs, QList<int>({ 22, 2222 }), "Carrier, \"Backbone\" AG"));
        // No source row: what its incidents add up to.
        const std::optional<HistorySourceSummary> bare = m_query->source(KnownHistory::key("2001:db9::1"));
        QVERIFY(bare);
        QCOMPARE(std::tuple(bare->addressText, bare->last, bare->kinds),
            std::tuple("2001:db9::1", Now - 59 * MinuteMs, HistoryKinds::of(Event::Detection::Fin)));
        QVERIFY(!m_query->source(KnownHistory::key("192.0.2.8")));
    }

    void charts_data()
    {
        QTest::addColumn<int>("utcOffset");
        QTest::addColumn<int>("today"); // probes on days[29]
        QTest::newRow("UTC: ten hours ago was yesterday") << 0 << 8;
        QTest::newRow("UTC+14: today") << 14 * 3600 << 9;
    }

    void charts()
    {
        QFETCH(int, utcOffset);
        const HistoryCharts charts = m_query->charts(Now, utcOffset);
        QCOMPARE(std::tuple(charts.hours[23][0], charts.hours[22][5], charts.hours[13][2], charts.hours[0][4],
                     charts.firstHour),
            std::tuple(5, 3, 1, 2, Now - 23 * 60 * MinuteMs));
        const auto sum = [](const HistoryCharts::Stack& stack) {
            return std::accumulate(stack.begin(), stack.end(), 0LL);
        };
        QTEST(int(sum(charts.days[29])), "today");
        QCOMPARE(sum(charts.days[28]), 18 - sum(charts.days[29]));
        QCOMPARE(std::tuple(charts.probes, charts.spoofableProbes, charts.topPorts.size(),
                     charts.topPorts[0].port, charts.topPorts[0].count),
            std::tuple(18, 6, 4, 22, 12));
        QCOMPARE(charts.topSources.value(0).addressText, "192.0.2.7");
    }

    // Both exports of a filter read back: every row, each field where and as it belongs, quoted
    // where it holds a comma or a quote.
    void exportReadBack()
    {
        HistoryFilter filter;
        filter.addresses = HistoryFilter::parseAddress(u"192.0.2.0/24");
        QBuffer csv;
        QBuffer json;
        QVERIFY(csv.open(QIODevice::WriteOnly) && json.open(QIODevice::WriteOnly));
        QVERIFY(HistoryExport::write(*m_query, filter, {}, HistoryExport::Format::Csv, csv));
        QVERIFY(HistoryExport::write(*m_query, filter, {}, HistoryExport::Format::JsonLines, json));

        const QList<QByteArray> records = csv.data().split('\n');
        QCOMPARE(records.size(), 5); // the header, three rows, the end of the last line
        QCOMPARE(records[3],
            "10002,2026-12-06T09:00:00.000+01:00,2026-12-06T09:01:00.000+01:00,192.0.2.7,ipv4,DE,64500,"
            "\"Carrier, \"\"Backbone\"\" AG\",22,\"half_open,flood\",50000,1,true,alarm\r");
        const QList<QByteArray> lines = json.data().split('\n');
        QCOMPARE(lines.size(), 4);
        for (const QByteArray& line : lines.mid(0, 3))
            QVERIFY2(QJsonDocument::fromJson(line).isObject(), line.constData());
        QCOMPARE(lines[0],
            "{\"time\":\"2027-01-15T08:31:00.000+01:00\",\"event\":\"incident_ended\",\"incident\":10009,"
            "\"address\":\"192.0.2.7\","
            "\"first\":\"2027-01-15T08:30:00.000+01:00\",\"last\":\"2027-01-15T08:31:00.000+01:00\","
            "\"ports\":\"22,2222\","
            "\"count\":4,\"family\":\"ipv4\",\"detection\":\"connect\",\"spoofable\":false,\"sources\":1,"
            "\"state\":\"allowed\","
            "\"country\":\"DE\",\"asn\":64500,\"owner\":\"Carrier, \\\"Backbone\\\" AG\"}");
    }

private:
    QTemporaryDir m_folder;
    std::optional<HistoryQuery> m_query;
};

QTEST_GUILESS_MAIN(TestHistoryQuery)
#include "tst_HistoryQuery.moc"
