#include "ChartText.h"
#include "HistoryTableModel.h"
#include "KnownHistory.h"
#include "LogEntries.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <QtTest>

// The History window's rules below its widgets: the incidents read a page at a time, the charts'
// numbers in words, a source's entries picked out of Log.txt.
class TestHistoryWindow : public QObject
{
    Q_OBJECT

private slots:
    void pagesFollowOneAnotherToTheEnd()
    {
        // The eight known incidents after 442 older connections: 450, ids in the order they began.
        QTemporaryDir folder;
        QSqlDatabase database = QSqlDatabase::addDatabase("QSQLITE", "paging");
        database.setDatabaseName(folder.filePath("history.sqlite"));
        QVERIFY(database.open() && KnownHistory::write(database, QDateTime::currentMSecsSinceEpoch(), 442));
        {
            HistoryQuery query(database);
            HistoryTableModel model;
            model.setQuery(&query);
            QCOMPARE(model.total(), 450);
            const int pageSize = HistoryTableModel::PageSize;
            for (const int expected : { pageSize, 2 * pageSize, 450, 450 }) {
                QCOMPARE(model.rowCount(), expected);
                QCOMPARE(model.canFetchMore({}), expected < 450);
                model.fetchMore({});
            }
            // Newest first across the pages' seams: no row lost, none twice.
            for (int row = 0; row < 450; ++row)
                QCOMPARE(model.incidentAt(row)->id, 450 - row);
            QCOMPARE(model.data(model.index(0, HistoryTableModel::Address)).toString(), "192.0.2.7");

            HistoryFilter port23;
            port23.port = 23;
            model.setFilter(port23);
            QCOMPARE(model.total(), 2);
            QCOMPARE(model.incidentAt(0)->id, 448);
            // Sorted by another column, the pages follow on in that order.
            model.setFilter({});
            model.sort(HistoryTableModel::Count, Qt::AscendingOrder);
            while (model.canFetchMore({}))
                model.fetchMore({});
            QSet<qint64> ids;
            for (int row = 0; row < model.rowCount(); ++row) {
                ids.insert(model.incidentAt(row)->id);
                QVERIFY(row == 0 || model.incidentAt(row - 1)->count <= model.incidentAt(row)->count);
            }
            QCOMPARE(ids.size(), 450);
        }
        database.close();
        database = {};
        QSqlDatabase::removeDatabase("paging");
    }

    void chartsInWords()
    {
        HistoryCharts::Stack twoKinds {}, none {}, udp {};
        twoKinds[0] = 2;
        twoKinds[5] = 1;
        udp[5] = 4;
        for (const auto& [text, expected] : {
                 std::pair { ChartText::stacks("Per hour", { "14:00", "15:00", "16:00" }, { twoKinds, none, udp }),
                     "Per hour: 14:00 3 (connect 2, udp 1), 16:00 4 (udp 4); none in the other 1." },
                 { ChartText::stacks("Per day", { "12-01" }, { udp }), "Per day: 12-01 4 (udp 4)." },
                 { ChartText::stacks("Per day", { "12-01", "12-02" }, { none, none }), "Per day: none." },
                 { ChartText::ranking("Top ports", { "23", "80" }, { 120, 75 }), "Top ports: 23 120, 80 75." },
                 { ChartText::ranking("Top sources", {}, {}), "Top sources: none." },
                 { ChartText::share("Spoofable", 1, 3), "Spoofable: 1 of 3 (33%)." },
                 { ChartText::share("Spoofable", 1, 200), "Spoofable: 1 of 200 (1%)." },
                 { ChartText::share("Spoofable", 2, 3), "Spoofable: 2 of 3 (67%)." },
                 { ChartText::share("Spoofable", 0, 0), "Spoofable: 0 of 0 (0%)." } })
            QCOMPARE(text, QString(expected));
    }

    void logEntriesOfOneAddress()
    {
        const QByteArray log = "\r\nIntruder Information - 12/8/2026 10:00:00 AM\r\nIP: 192.0.2.7\r\nAttacked Port: 21\r\n"
                               "Message: connect\r\n"
                               "\r\nIntruder Information - 12/8/2026 10:00:01 AM\r\nIP: 192.0.2.70\r\nAttacked Port: 23\r\n"
                               "Message: connect\r\n"
                               "\r\nIntruder Information - 12/8/2026 10:00:02 AM\r\nIP: 192.0.2.7\r\n" // cut short
                               "\r\nIntruder Information - 12/8/2026 10:00:03 AM\r\nIP: 192.0.2.7\r\nAttacked Port: 80\r\n"
                               "Message: connect\r\n";
        for (const auto& [address, max, expected] : {
                 std::tuple { "192.0.2.7", 10, QStringList { "21", "", "80" } },
                 { "192.0.2.7", 1, QStringList { "80" } }, { "192.0.2.70", 10, QStringList { "23" } },
                 { "192.0.2.8", 10, QStringList {} } }) {
            QBuffer buffer;
            buffer.setData(log);
            buffer.open(QIODevice::ReadOnly);
            QStringList ports;
            for (const QString& entry : LogEntries::matching(buffer, address, max)) {
                QVERIFY(entry.startsWith("Intruder Information - ") && entry.contains(QString("\nIP: ") + address));
                ports << entry.section("Attacked Port: ", 1).section('\n', 0, 0);
            }
            QCOMPARE(ports, expected);
        }
    }
};

QTEST_MAIN(TestHistoryWindow)
#include "tst_HistoryWindow.moc"
