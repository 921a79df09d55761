#include "MonitoringState.h"
#include "StatusDisplay.h"
#include "StatusListView.h"

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
} // namespace

class TestStatusDisplay : public QObject
{
    Q_OBJECT

private slots:
    void linesCarryThePrefix();
    void linesReachTheModelInBatches();
    void capKeepsTheNewestLines();
    void resetStatusTextFollowsMonitoring();
    void measureKeepsEarlierValuesOnFailure();
    void autoScrollCyclesThroughTheList();
    void autoScrollWithFewOrNoLinesStaysAtTop();
    void autoScrollRestartsAfterClear();
    void mirrorWritesLinesAndTexts();
};

void TestStatusDisplay::linesCarryThePrefix()
{
    MonitoringState monitoring;
    StatusDisplay display(monitoring);
    QCOMPARE(display.statusText(), QString("Loading.."));
    display.addStatusLine("Monitoring Port: 21");
    display.addStatusLine("");
    QCOMPARE(display.model().lines(), QStringList({ "[ ORRA ] - Monitoring Port: 21", "[ ORRA ] - " }));
}

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

    MonitoringState monitoring;
    StatusDisplay display(monitoring);
    addLines(display, StatusListModel::DefaultCap + 12);
    display.model().flush();
    QCOMPARE(display.model().rowCount(), 100000);
    QCOMPARE(display.model().data(display.model().index(0)).toString(), QString("[ ORRA ] - 12"));
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

void TestStatusDisplay::measureKeepsEarlierValuesOnFailure()
{
    MonitoringState monitoring;
    StatusDisplay display(monitoring);
    FakeListView view;
    display.setView(&view);
    display.measureStatusList();
    QCOMPARE(display.statusItemHeight(), 13);
    QCOMPARE(display.statusVisibleRows(), 10);

    view.row = 0;
    view.height = 500;
    display.measureStatusList();
    QCOMPARE(display.statusItemHeight(), 13);
    QCOMPARE(display.statusVisibleRows(), 10);
}

void TestStatusDisplay::autoScrollCyclesThroughTheList()
{
    MonitoringState monitoring;
    StatusDisplay display(monitoring);
    FakeListView view;
    display.setView(&view);
    display.measureStatusList(); // 10 visible rows
    addLines(display, 13);

    for (int i = 0; i < 5; ++i)
        display.autoScrollStep();
    QCOMPARE(view.tops, QList<int>({ 1, 2, 3, 0, 1 }));

    // Lines added during a cycle extend it; the view itself does not jump.
    addLines(display, 2);
    for (int i = 0; i < 5; ++i)
        display.autoScrollStep();
    QCOMPARE(view.tops.mid(5), QList<int>({ 2, 3, 4, 5, 0 }));
}

void TestStatusDisplay::autoScrollWithFewOrNoLinesStaysAtTop()
{
    MonitoringState monitoring;
    StatusDisplay display(monitoring);
    FakeListView view;
    display.setView(&view);
    display.measureStatusList();

    display.autoScrollStep();
    QCOMPARE(display.autoScrollPos(), 0);
    QVERIFY(view.tops.isEmpty()); // nothing to scroll in an empty list

    addLines(display, 10);
    for (int i = 0; i < 3; ++i)
        display.autoScrollStep();
    QCOMPARE(view.tops, QList<int>({ 0, 0, 0 }));
}

void TestStatusDisplay::autoScrollRestartsAfterClear()
{
    MonitoringState monitoring;
    StatusDisplay display(monitoring);
    FakeListView view;
    display.setView(&view);
    display.measureStatusList();
    addLines(display, 30);
    for (int i = 0; i < 7; ++i)
        display.autoScrollStep();
    QCOMPARE(display.autoScrollPos(), 7);

    display.clearMessages();
    display.autoScrollStep();
    QCOMPARE(display.autoScrollPos(), 0);

    display.setAutoScrollEnabled(true);
    QVERIFY(display.isAutoScrollEnabled());
    display.setAutoScrollEnabled(false);
    QVERIFY(!display.isAutoScrollEnabled());
    QCOMPARE(display.autoScrollPos(), 0); // switching keeps the position
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

QTEST_GUILESS_MAIN(TestStatusDisplay)
#include "tst_StatusDisplay.moc"
