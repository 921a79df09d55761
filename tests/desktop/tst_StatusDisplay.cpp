#include "MonitoringState.h"
#include "StatusDisplay.h"
#include "StatusLineDelegate.h"
#include "StatusListView.h"

#include <fcntl.h>
#include <unistd.h>

namespace {
// The numbers from..to-1 as lines.
QStringList numbers(int from, int to)
{
    QStringList all;
    for (int i = from; i < to; ++i)
        all << QString::number(i);
    return all;
}

// A display over a list view of 10 visible rows, recording the rows its auto-scroll puts at the top.
struct Rig final : StatusListView
{
    Rig()
    {
        display.setView(this);
        measure(13);
    }
    void measure(int rowHeight)
    {
        row = rowHeight;
        display.measureStatusList();
    }
    // clang-format off
    int clientHeight() const override { return height; }
    int rowHeight() const override { return row; }
    void setTopRow(int top) override { tops.append(top); }
    void add(int lines) { for (const QString& line : numbers(0, lines)) display.addStatusLine(line); }
    void steps(int count) { while (count--) display.autoScrollStep(); }
    // clang-format on

    MonitoringState monitoring;
    qint64 now = 0; // ms, the auto-scroll's clock
    StatusDisplay display { monitoring, nullptr, [this] { return now; } };
    int height = 130, row = 0;
    QList<int> tops;
};
} // namespace

class TestStatusDisplay : public QObject
{
    Q_OBJECT

private slots:
    // One batch per pass, the newest kept under the cap; unseen lines wait (only enough goes in to keep
    // memory near the cap) and go in at once when seen again. Clearing resets the text as monitoring is.
    void linesReachTheModelInBatchesNewestKept()
    {
        Rig rig;
        const StatusListModel& lines = rig.display.model();
        QSignalSpy batches(&lines, &QAbstractItemModel::rowsInserted);
        rig.add(600);
        QCOMPARE(lines.rowCount(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(lines.rowCount(), 600, 2000);
        QCOMPARE(batches.count(), 1);
        QCOMPARE(lines.data(lines.index(599)).toString(), QString("[ ORRA ] - 599"));
        rig.display.resetStatusText();
        QCOMPARE(rig.display.statusText(), QString("Disabled.")); // never started
        rig.monitoring.setActive(true);
        rig.display.clearMessages();
        QCOMPARE(rig.display.statusText() + QString::number(lines.lineCount()), QString("Protecting..0"));

        StatusListModel model(5);
        QSignalSpy inserts(&model, &QAbstractItemModel::rowsInserted);
        const auto append = [&model](int from, int to, bool flush = true) {
            for (const QString& line : numbers(from, to))
                model.append(line);
            if (flush)
                model.flush();
        };
        append(0, 3);
        append(3, 7);
        QCOMPARE(model.lines(), numbers(2, 7));
        append(10, 20);
        QCOMPARE(model.lines(), numbers(15, 20));
        model.setWatched(false);
        append(20, 22, false);
        QTest::qWait(StatusListModel::FlushInterval * 2);
        QCOMPARE(inserts.count(), 3);
        model.setWatched(true);
        QCOMPARE(inserts.count(), 4);
        model.setWatched(false);
        append(22, 27, false); // the third line unseen is inserted, the other two wait
        QCOMPARE(inserts.count(), 5);
        QCOMPARE(model.lines(), numbers(20, 27));
        model.clear();
        model.setWatched(true);
        QCOMPARE(model.lineCount(), 0);
    }

    // The tops the auto-scroll sets over 10 visible rows, and its final position, over a script: +<n>
    // lines, t<n> ticks, a<row> a reader's action away from the end, e<row> one with the end in view,
    // w<s> seconds idle, m a failed measure. Ticks wait while the reader uses the list, and go on from
    // the reader's row after 10 s or back at the end; unseen, the position cycles, the view untouched.
    void autoScroll()
    {
        QList<int> longCycle(39990);
        std::iota(longCycle.begin(), longCycle.end(), 1);
        const struct
        {
            const char* script;
            QList<int> tops;
            int position;
            bool seen = true;
        } cases[] { { "+13 t5", { 1, 2, 3, 0, 1 }, 1 }, { "+10 t2", { 0, 0 }, 0 }, { "t5", {}, 0 },
            { "+40000 t39991", longCycle << 0, 0 }, { "+13 t5", {}, 1, false },
            { "+13 t5 m +2 t5", { 1, 2, 3, 0, 1, 2, 3, 4, 5, 0 }, 0 },
            { "+13 t a0 t t w9 t w1 t t", { 1, 1, 2 }, 2 }, { "+13 t a0 t e3 t t", { 1, 0, 1 }, 1 },
            { "+13 t e3 t w9 t w1 t", { 1, 0 }, 0 }, { "+13 t e3 e3 t w9 t", { 1 }, 1 },
            { "+13 t a2 w5 a1 w9 t w1 t", { 1, 2 }, 2 } };
        for (const auto& c : cases) {
            Rig rig;
            rig.display.setDisplayPresent(c.seen);
            for (const QString& step : QString(c.script).split(' ')) {
                const int n = step.mid(1).toInt();
                if (step[0] == '+')
                    rig.add(n);
                else if (step[0] == 't')
                    rig.steps(std::max(n, 1));
                else if (step[0] == 'w')
                    rig.now += n * 1000;
                else if (step[0] == 'm')
                    rig.measure(0);
                else
                    rig.display.userUsedList(step[0] == 'e', n);
            }
            QVERIFY2(rig.tops == c.tops && rig.display.autoScrollPos() == c.position, c.script);
        }
    }

    // Lines and texts reach the mirror once per pass, in order, as UTF-8. A reader that stops never
    // holds the program up: what did not fit is counted in one line once it reads again.
    void mirrorWritesLinesAndTexts()
    {
        int ends[2];
        QVERIFY(::pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0);
        ::fcntl(ends[1], F_SETFL, 0); // the program's end blocks, as a shell leaves it
        ::fcntl(ends[1], F_SETPIPE_SZ, 4096);
        std::FILE* stream = ::fdopen(ends[1], "w");
        QByteArray read;
        const auto drain = [&] {
            char buffer[65536];
            for (int quiet = 0; quiet < 20; ++quiet) { // until 20 reads in a row bring nothing
                for (ssize_t n; (n = ::read(ends[0], buffer, sizeof buffer)) > 0; quiet = 0)
                    read.append(buffer, n);
                QTest::qWait(10);
            }
        };
        Rig rig;
        rig.display.setMirror(stream);
        rig.display.addStatusLine("Monitoring Port: 4242");
        rig.display.setStatusText("Ready.");
        rig.display.addStatusLine("Port: 4242\u00e9 is already open");
        QVERIFY(read.isEmpty());
        drain();
        QCOMPARE(read, QByteArray("[ ORRA ] - Monitoring Port: 4242\nReady.\n"
                                  "[ ORRA ] - Port: 4242\xc3\xa9 is already open\n"));

        // Nobody reads: 40,000 lines of 40 bytes are more than the pipe and the bound hold.
        read.clear();
        ::alarm(60); // a write that waits for the reader would hang here
        const QString line = QString(29, 'x');
        for (int i = 0; i < 40000; ++i) {
            rig.display.addStatusLine(line);
            if (i % 1000 == 0)
                QCoreApplication::processEvents();
        }
        QCoreApplication::processEvents();
        ::alarm(0);
        drain();
        rig.display.addStatusLine(line);
        drain();
        const QList<QByteArray> lines = read.trimmed().split('\n');
        const int lost = 40001 - int(lines.size() - 1);
        QVERIFY(lost > 0);
        QCOMPARE(lines.last(),
            "[ ORRA ] - Standard output: " + QByteArray::number(lost) + " lines could not be written");
        QCOMPARE(read.count("could not be written"), 1);
        rig.display.setMirror(nullptr);
        std::fclose(stream);
        ::close(ends[0]);
    }

    // Rows look exactly like the standard delegate's: elided, selected, focused, empty, disabled, a larger
    // font, and a repaint from the cache.
    void linesDrawLikeTheStandardDelegate()
    {
        QStringListModel model({ "[ ORRA ] - Ready.",
            "[ ORRA ] - Intrusion detected from 192.168.100.200 on port 31337, a line wider than the list",
            "", "[ ORRA ] - 10.0.0.1:22" });
        for (const auto& [pointSize, enabled] : { std::pair { 0, true }, { 14, true }, { 0, false } }) {
            const auto grab = [&](QAbstractItemDelegate* delegate) {
                QListView list;
                list.setUniformItemSizes(true);
                list.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
                if (pointSize > 0)
                    list.setFont(QFont(list.font().family(), pointSize));
                if (delegate)
                    list.setItemDelegate(delegate);
                list.setModel(&model);
                list.setEnabled(enabled);
                list.resize(297, 160);
                list.setCurrentIndex(model.index(3));
                list.selectionModel()->select(model.index(1), QItemSelectionModel::Select);
                list.show();
                const QImage first = list.grab().toImage();
                list.viewport()->repaint();
                return std::pair { first, list.grab().toImage() };
            };
            StatusLineDelegate delegate;
            QCOMPARE(grab(&delegate), grab(nullptr));
        }
    }
};

QTEST_MAIN(TestStatusDisplay)
#include "tst_StatusDisplay.moc"
