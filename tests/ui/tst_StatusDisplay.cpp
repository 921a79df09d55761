#include "MonitoringState.h"
#include "StatusDisplay.h"
#include "StatusListView.h"

#include <QListView>
#include <QSignalSpy>
#include <QTemporaryFile>
#include <QtTest>

namespace {
class FakeListView final : public StatusListView
{
public:
    int clientHeight() const override { return height; }
    int rowHeight() const override { return row; }
    void setTopRow(int r) override { tops.append(r); }

    int height = 130;
    int row = 13;
    QList<int> tops;
};

void addLines(StatusDisplay& display, int count)
{
    for (int i = 0; i < count; ++i)
        display.addStatusLine(QString::number(i));
}

// A display measured at 10 visible rows, with the rows its auto-scroll put at the top.
struct ScrollRig
{
    ScrollRig()
    {
        display.setView(&view);
        display.measureStatusList();
    }
    QList<int> steps(int count)
    {
        view.tops.clear();
        for (int i = 0; i < count; ++i)
            display.autoScrollStep();
        return view.tops;
    }

    MonitoringState monitoring;
    StatusDisplay display { monitoring };
    FakeListView view;
};
} // namespace

class TestStatusDisplay : public QObject
{
    Q_OBJECT

private slots:
    void linesReachTheModelInBatches();
    void capKeepsTheNewestLines();
    void unseenLinesWaitAndKeepTheirOrder();
    void listIsSeenOnlyWhenItCanBe();
    void resetStatusTextFollowsMonitoring();
    void autoScroll_data();
    void autoScroll();
    void autoScrollFollowsTheList();
    void mirrorWritesLinesAndTexts();
};

void TestStatusDisplay::linesReachTheModelInBatches()
{
    MonitoringState monitoring;
    StatusDisplay display(monitoring);
    QSignalSpy inserts(&display.model(), &QAbstractItemModel::rowsInserted);

    addLines(display, 600);
    QCOMPARE(display.model().rowCount(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(display.model().rowCount(), 600, 2000);
    QCOMPARE(inserts.count(), 1);
    QCOMPARE(display.model().data(display.model().index(599)).toString(), QString("[ ORRA ] - 599"));

    // A long list waits longer between batches, as each one lays out every row; none is lost.
    StatusListModel& model = display.model();
    for (int i = 600; i < 50000; ++i)
        model.append(QString::number(i));
    model.flush();
    model.append(QStringLiteral("late"));
    QTest::qWait(StatusListModel::FlushInterval * 2);
    QCOMPARE(model.rowCount(), 50000);
    QTRY_COMPARE_WITH_TIMEOUT(model.rowCount(), 50001, 3000);
    QCOMPARE(model.lines().last(), QStringLiteral("late"));
}

void TestStatusDisplay::capKeepsTheNewestLines()
{
    StatusListModel model(5);
    for (int i = 0; i < 3; ++i)
        model.append(QString::number(i));
    model.flush();
    for (int i = 3; i < 7; ++i)
        model.append(QString::number(i));
    model.flush();
    QCOMPARE(model.lines(), QStringList({ "2", "3", "4", "5", "6" }));

    // A single pass larger than the cap keeps only its own newest lines.
    for (int i = 10; i < 20; ++i)
        model.append(QString::number(i));
    model.flush();
    QCOMPARE(model.lines(), QStringList({ "15", "16", "17", "18", "19" }));
    QCOMPARE(model.rowCount(), 5);
}

void TestStatusDisplay::unseenLinesWaitAndKeepTheirOrder()
{
    StatusListModel model(10);
    QSignalSpy inserts(&model, &QAbstractItemModel::rowsInserted);
    const auto add = [&model](int from, int to) {
        for (int i = from; i < to; ++i)
            model.append(QString::number(i));
    };
    const auto numbers = [](int from, int to) {
        QStringList all;
        for (int i = from; i < to; ++i)
            all << QString::number(i);
        return all;
    };

    model.setWatched(false);
    add(0, 4);
    QTest::qWait(StatusListModel::FlushInterval * 2);
    QCOMPARE(inserts.count(), 0);
    QCOMPARE(model.lineCount(), 4);
    model.setWatched(true); // seen again: in at once, in order
    QCOMPARE(model.rowCount(), 4);
    add(4, 6);
    QTRY_COMPARE_WITH_TIMEOUT(model.rowCount(), 6, 2000);
    QCOMPARE(model.lines(), numbers(0, 6));

    // Unseen for long: only enough goes in to keep memory near the cap, the newest lines last.
    model.setWatched(false);
    inserts.clear();
    add(6, 12);
    QCOMPARE(inserts.count(), 1);
    QCOMPARE(model.lines(), numbers(2, 12));
    model.clear();
    add(12, 14);
    model.setWatched(true);
    QCOMPARE(model.lines(), numbers(12, 14));
    QCOMPARE(model.rowCount(), 2);
}

void TestStatusDisplay::listIsSeenOnlyWhenItCanBe()
{
    MonitoringState monitoring;
    StatusDisplay display(monitoring);
    QWidget window;
    auto* list = new QListView(&window);
    display.watchList(list);
    const auto seen = [&display] { return display.model().isWatched(); };
    QVERIFY(!seen()); // not shown yet
    window.show();
    QVERIFY(seen());
    list->hide(); // the folded monitor view
    QVERIFY(!seen());
    list->show();
    QVERIFY(seen());
    window.setWindowState(Qt::WindowMinimized);
    QVERIFY(!seen());
    window.setWindowState(Qt::WindowNoState);
    QVERIFY(seen());
    display.setDisplayPresent(false);
    QVERIFY(!seen());
    display.setDisplayPresent(true);
    window.hide();
    QVERIFY(!seen());
}

void TestStatusDisplay::resetStatusTextFollowsMonitoring()
{
    MonitoringState monitoring;
    StatusDisplay display(monitoring);
    addLines(display, 3);

    display.resetStatusText();
    QCOMPARE(display.statusText(), QString("Disabled.")); // never started
    monitoring.setActive(true);
    display.clearMessages();
    QCOMPARE(display.statusText(), QString("Protecting.."));
    QCOMPARE(display.model().lineCount(), 0);
    monitoring.setActive(false);
    display.resetStatusText();
    QCOMPARE(display.statusText(), QString("Disabled."));
}

void TestStatusDisplay::autoScroll_data()
{
    // The last tops of a number of ticks over a list measured at 10 visible rows.
    QTest::addColumn<int>("lines");
    QTest::addColumn<int>("ticks");
    QTest::addColumn<bool>("seen");
    QTest::addColumn<QList<int>>("tops");
    QTest::addColumn<int>("position");
    QTest::newRow("13 lines: down to the last, then back to the top")
        << 13 << 5 << true << QList<int> { 1, 2, 3, 0, 1 } << 1;
    QTest::newRow("no more lines than rows") << 10 << 5 << true << QList<int> { 0, 0, 0, 0, 0 } << 0;
    QTest::newRow("empty list: nothing to scroll") << 0 << 5 << true << QList<int> {} << 0;
    QTest::newRow("past 32,767 lines it keeps cycling")
        << 40000 << 39991 << true << QList<int> { 39989, 39990, 0 } << 0;
    QTest::newRow("nobody sees the list: the position cycles, the view is left alone")
        << 13 << 5 << false << QList<int> {} << 1;
}

void TestStatusDisplay::autoScroll()
{
    QFETCH(int, lines);
    QFETCH(int, ticks);
    QFETCH(bool, seen);
    QFETCH(QList<int>, tops);
    ScrollRig rig;
    rig.display.setDisplayPresent(seen);
    addLines(rig.display, lines);
    QCOMPARE(rig.steps(ticks).mid(ticks - tops.size()), tops);
    QTEST(rig.display.autoScrollPos(), "position");
}

void TestStatusDisplay::autoScrollFollowsTheList()
{
    ScrollRig rig;
    addLines(rig.display, 13);
    rig.steps(5);
    // A measure that fails (no row height) keeps the earlier 10 rows and row height.
    rig.view.row = 0;
    rig.view.height = 500;
    rig.display.measureStatusList();
    QCOMPARE(rig.display.statusItemHeight(), 13);
    // Lines added during a cycle extend it; the view itself does not jump.
    addLines(rig.display, 2);
    QCOMPARE(rig.steps(5), QList<int>({ 2, 3, 4, 5, 0 }));

    // Switching auto-scroll keeps the position; clearing restarts at the top on the next tick.
    rig.steps(3);
    rig.display.setAutoScrollEnabled(true);
    rig.display.setAutoScrollEnabled(false);
    QCOMPARE(rig.display.autoScrollPos(), 3);
    rig.display.clearMessages();
    rig.steps(1);
    QCOMPARE(rig.display.autoScrollPos(), 0);
}

void TestStatusDisplay::mirrorWritesLinesAndTexts()
{
    QTemporaryFile file;
    QVERIFY(file.open());
    std::FILE* stream = std::fopen(file.fileName().toLocal8Bit().constData(), "w");
    QVERIFY(stream);

    MonitoringState monitoring;
    StatusDisplay display(monitoring);
    display.setMirror(stream);
    display.addStatusLine("Monitoring Port: 4242");
    display.setStatusText("Ready.");
    const auto written = [&file] {
        QFile reader(file.fileName());
        return reader.open(QIODevice::ReadOnly) ? reader.readAll() : QByteArray();
    };
    QCOMPARE(written(), QByteArray()); // flushed once per event-loop pass, not per line
    QTRY_COMPARE_WITH_TIMEOUT(written(), QByteArray("[ ORRA ] - Monitoring Port: 4242\nReady.\n"), 2000);
    std::fclose(stream);
}

QTEST_MAIN(TestStatusDisplay)
#include "tst_StatusDisplay.moc"
