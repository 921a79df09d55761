// The History window on a large store: the time from opening the store to the first page painted,
// a filter by prefix, port and kind applied through the window's model, and the window's RSS with
// that store against the same window on an empty one.
//   sentrel-historywindow <history.sqlite>
// Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise.

#include "HistoryQuery.h"
#include "HistorySchema.h"
#include "HistoryWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QTableView>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>

namespace {
constexpr double TargetOpenMs = 300;
constexpr double TargetRssMb = 80;

double rssMb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return 0;
}

// Opens the store, shows its window and paints the first page; milliseconds it took.
double showWindow(const QString& path, const QString& connection, std::unique_ptr<HistoryQuery>& query,
    HistoryWindow& window)
{
    QElapsedTimer timer;
    timer.start();
    query = std::make_unique<HistoryQuery>(HistoryQuery::openForReading(path, connection));
    window.setQuery(query.get(), path);
    window.show();
    window.table()->viewport()->repaint();
    QCoreApplication::processEvents();
    return double(timer.nsecsElapsed()) / 1e6;
}
} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc != 2 || !QFile::exists(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "usage: sentrel-historywindow <history.sqlite>\n");
        return 2;
    }
    QTemporaryDir folder;
    const QString empty = folder.filePath(QStringLiteral("empty.sqlite"));
    {
        QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("make"));
        database.setDatabaseName(empty);
        if (!database.open() || !HistorySchema::create(database))
            return 1;
    }
    QSqlDatabase::removeDatabase(QStringLiteral("make"));

    std::unique_ptr<HistoryQuery> emptyQuery, fullQuery;
    HistoryWindow emptyWindow, fullWindow;
    showWindow(empty, QStringLiteral("empty"), emptyQuery, emptyWindow);
    const double withEmpty = rssMb();
    const double openMs = showWindow(QString::fromLocal8Bit(argv[1]), QStringLiteral("full"), fullQuery, fullWindow);
    std::printf("window: %lld incidents, first page shown in %.1f ms (target < %.0f ms)\n",
        static_cast<long long>(fullWindow.model().total()), openMs, TargetOpenMs);

    QElapsedTimer charts;
    charts.start();
    while (fullWindow.chartsPending())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    std::printf("window: charts read beside it and drawn %.1f ms after the first page\n", double(charts.nsecsElapsed()) / 1e6);

    HistoryFilter prefix, port, kind;
    prefix.addresses = HistoryFilter::parseAddress(u"203.0.113.0/24");
    port.port = 23;
    kind.kinds = HistoryKinds::of(Event::Detection::Udp);
    for (const auto& [name, filter] : { std::pair { "prefix 203.0.113.0/24", prefix }, { "port 23", port }, { "kind udp", kind } }) {
        QElapsedTimer timer;
        timer.start();
        fullWindow.model().setFilter(filter);
        fullWindow.table()->viewport()->repaint();
        std::printf("window: filter %-20s %8.1f ms, %lld incidents (page and count)\n", name,
            double(timer.nsecsElapsed()) / 1e6, static_cast<long long>(fullWindow.model().total()));
    }
    // Scrolled down through ten pages, as a reader would.
    for (int page = 0; page < 10 && fullWindow.model().canFetchMore({}); ++page)
        fullWindow.model().fetchMore({});
    const double withFull = rssMb();
    std::printf("window: RSS %.1f MB on an empty store, %.1f MB on this one (ten pages read): %+.1f MB (target < %.0f MB)\n",
        withEmpty, withFull, withFull - withEmpty, TargetRssMb);
    std::printf("  %s  window: first page < %.0f ms\n", openMs < TargetOpenMs ? "PASS" : "FAIL", TargetOpenMs);
    std::printf("  %s  window: RSS < %.0f MB more\n", withFull - withEmpty < TargetRssMb ? "PASS" : "FAIL", TargetRssMb);
    return 0;
}
