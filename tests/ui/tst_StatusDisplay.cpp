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

// The numbers from..to-1 as lines, and appended to a model.
QStringList numbers(int from, int to)
{
    QStringList all;
    for (int i = from; i < to; ++i)
        all << QString::number(i);
    return all;
}
void append(StatusListModel& model, int from, int to)
{
    for (const QString& line : numbers(from, to))
        model.append(line);
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
    // Lines reach the model in one batch per pass. The cap keeps the newest lines, also of a single
    // pass larger than the cap. Lines nobody can see wait, and go in at once and in order when seen
    // again; unseen for long, only enough goes in to keep memory near the cap.
    void linesReachTheModelInBatchesNewestKept()
    {
        MonitoringState monitoring;
        StatusDisplay display(monitoring);
        QSignalSpy batches(&display.model(), &QAbstractItemModel::rowsInserted);
        addLines(display, 600);
        QCOMPARE(display.model().rowCount(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(display.model().rowCount(), 600, 2000);
        QCOMPARE(batches.count(), 1);
        QCOMPARE(display.model().data(display.model().index(599)).toString(), QString("[ ORRA ] - 599"));

        StatusListModel capped(5);
        append(capped, 0, 3);
        capped.flush();
        append(capped, 3, 7);
        capped.flush();
        QCOMPARE(capped.lines(), numbers(2, 7));
        append(capped, 10, 20);
        capped.flush();
        QCOMPARE(capped.lines(), numbers(15, 20));
        QCOMPARE(capped.rowCount(), 5);

        StatusListModel model(10);
        QSignalSpy inserts(&model, &QAbstractItemModel::rowsInserted);
        model.setWatched(false);
        append(model, 0, 4);
        QTest::qWait(StatusListModel::FlushInterval * 2);
        QVERIFY(inserts.isEmpty() && model.lineCount() == 4);
        model.setWatched(true);
        QCOMPARE(model.rowCount(), 4);
        append(model, 4, 6);
        QTRY_COMPARE_WITH_TIMEOUT(model.rowCount(), 6, 2000);
        QCOMPARE(model.lines(), numbers(0, 6));

        model.setWatched(false);
        inserts.clear();
        append(model, 6, 12);
        QCOMPARE(inserts.count(), 1);
        QCOMPARE(model.lines(), numbers(2, 12));
        model.clear();
        append(model, 12, 14);
        model.setWatched(true);
        QCOMPARE(model.lines(), numbers(12, 14));
        QCOMPARE(model.rowCount(), 2);
    }

    // Seen only when shown, not folded, not minimized, with a display; and the status text a reset
    // gives follows monitoring.
    void listIsSeenOnlyWhenItCanBe()
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

    void autoScroll_data()
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
    void autoScroll()
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

    void autoScrollFollowsTheList()
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

    // Lines and texts reach the mirror once per event-loop pass, in order, as UTF-8.
    void mirrorWritesLinesAndTexts()
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
        display.addStatusLine("Port: 4242\u00e9 is already open");
        const auto written = [&file] {
            QFile reader(file.fileName());
            return reader.open(QIODevice::ReadOnly) ? reader.readAll() : QByteArray();
        };
        QCOMPARE(written(), QByteArray());
        QTRY_COMPARE_WITH_TIMEOUT(written(),
            QByteArray(
                "[ ORRA ] - Monitoring Port: 4242\nReady.\n[ ORRA ] - Port: 4242\xc3\xa9 is already open\n"),
            2000);
        std::fclose(stream);
    }
};

QTEST_MAIN(TestStatusDisplay)
#include "tst_StatusDisplay.moc"
