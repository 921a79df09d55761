#include "AboutBox.h"
#include "AboutBoxOpener.h"
#include "HelpCommands.h"
#include "MainWindow.h"
#include "MenuActions.h"
#include "MonitoringState.h"
#include "OptionsModel.h"
#include "SettingsManager.h"
#include "StatusDisplay.h"
#include "TestStore.h"

#include <QAction>
#include <QLabel>
#include <QListView>
#include <QMenuBar>
#include <QPushButton>
#include <QtTest>

namespace {
class FakeTray final : public TrayIcon, public HotkeyPoller
{
public:
    // clang-format off
    void trayIconAdd() override { }
    void trayIconDelete() override { }
    bool isShown() const override { return shown; }
    void load() override { calls << "load"; }
    void unload() override { calls << "unload"; }
    // clang-format on
    bool shown = false;
    QStringList calls;
};

// The real window over a real status display, not yet shown.
struct Rig
{
    Rig()
        : status(monitoring)
        , window(status, actions)
    {
        window.setTray(&tray);
    }
    MonitoringState monitoring;
    StatusDisplay status;
    MenuActions actions;
    MainWindow window;
    FakeTray tray;

    struct View
    {
        int height; // outer: frame, menu bar and client area
        int statusBarTop;
        QString caption;
        bool checked;
        bool listVisible;
        bool operator==(const View&) const = default;
    };
    View view() const
    {
        const int decoration = window.frameGeometry().height() - window.geometry().height();
        return { decoration + window.menuBar()->sizeHint().height() + window.centralWidget()->height(),
            window.statusBar()->y(), window.flatButton(MainWindow::MonitorButton)->text(),
            actions.monitor->isChecked(), !window.statusList()->isHidden() };
    }
};

constexpr int px(int twips)
{
    return (twips + 7) / 15;
}
} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void viewSwitch_data()
    {
        QTest::addColumn<QString>("driver");
        QTest::newRow("button 1") << "button";
        QTest::newRow("View > Monitor") << "menu";
        QTest::newRow("Ctrl+M") << "key";
        QTest::newRow("start-up before the window shows") << "startup";
    }
    void viewSwitch()
    {
        QFETCH(QString, driver);
        Rig rig;
        if (driver != "startup") {
            rig.window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
        }
        const Rig::View expanded = rig.view();
        QCOMPARE(expanded.caption, QString("Monitor [ON]"));
        QVERIFY(expanded.checked && expanded.listVisible);

        auto toggle = [&] {
            if (driver == "button")
                rig.window.flatButton(MainWindow::MonitorButton)->click();
            else if (driver == "menu")
                rig.actions.monitor->trigger();
            else if (driver == "key")
                QTest::keyClick(&rig.window, Qt::Key_M, Qt::ControlModifier);
            else
                rig.window.toggleMonitorView();
        };
        toggle();
        if (driver == "startup")
            rig.window.show();
        const Rig::View collapsed = rig.view();
        QCOMPARE(collapsed.caption, QString("Monitor [OFF]"));
        QVERIFY(!collapsed.checked && !collapsed.listVisible);
        QCOMPARE(collapsed.statusBarTop, px(505));
        QVERIFY(collapsed.height < expanded.height);
        // Unless the status bar would not fit, the outer heights are as designed.
        const int decoration = rig.window.frameGeometry().height() - rig.window.geometry().height();
        const int menuBar = rig.window.menuBar()->sizeHint().height();
        QCOMPARE(collapsed.height, std::max(px(1435), decoration + menuBar + px(505) + px(255)));
        QCOMPARE(expanded.height, px(4575));

        // Lines keep arriving while the list is hidden.
        rig.status.addStatusLine("Monitoring Port: 21");
        QCOMPARE(rig.status.model().lineCount(), 1);

        toggle();
        QCOMPARE(rig.view(), expanded);

        // Anything but the expanded caption expands.
        rig.window.flatButton(MainWindow::MonitorButton)->setText("Monitor");
        rig.window.toggleMonitorView();
        QCOMPARE(rig.view(), expanded);
    }

    void listIsMeasuredAtItsRealSize()
    {
        // Measured before the window shows, in the collapsed view, with no line to measure: still
        // the rows of the expanded list, the same as a shown, full list gives.
        Rig rig;
        rig.window.toggleMonitorView();
        rig.window.measureStatusList();
        const int hiddenRows = rig.status.statusVisibleRows();
        QVERIFY2(hiddenRows >= 10, qPrintable(QString::number(hiddenRows)));

        for (int i = 0; i < 20; ++i)
            rig.status.addStatusLine(QString::number(i));
        rig.status.model().flush();
        rig.window.toggleMonitorView();
        rig.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
        QCOMPARE(rig.status.statusVisibleRows(), hiddenRows);
        QCOMPARE(rig.status.statusItemHeight(), rig.window.statusList()->sizeHintForRow(0));
        QCOMPARE(rig.status.statusVisibleRows(),
            rig.window.statusList()->viewport()->height() / rig.window.statusList()->sizeHintForRow(0));
    }

    void minimizedWindow_data()
    {
        QTest::addColumn<bool>("minimized");
        QTest::addColumn<bool>("trayShown");
        QTest::addColumn<bool>("visibleAfter");
        QTest::addColumn<bool>("minimizedAfter");
        QTest::newRow("normal window stays") << false << true << true << false;
        QTest::newRow("minimized into a shown tray") << true << true << false << true;
        QTest::newRow("no tray: stays on the task bar") << true << false << true << true;
    }
    void minimizedWindow()
    {
        QFETCH(bool, minimized);
        QFETCH(bool, trayShown);
        QFETCH(bool, visibleAfter);
        QFETCH(bool, minimizedAfter);
        Rig rig;
        rig.tray.shown = trayShown;
        rig.window.show();
        if (minimized)
            rig.actions.minimize->trigger();
        rig.window.startMinimizedWatch();
        QTest::qWait(1500); // the watch ticks every 999 ms
        QCOMPARE(rig.window.isVisible(), visibleAfter);
        QCOMPARE(bool(rig.window.windowState() & Qt::WindowMinimized), minimizedAfter);

        // A tray that goes away brings a hidden window back to the task bar; restoring ends it all.
        rig.tray.shown = false;
        rig.window.hideMinimizedMonitor();
        QVERIFY(rig.window.isVisible());
        rig.window.restoreMonitor();
        QVERIFY(rig.window.isVisible());
        QVERIFY(!(rig.window.windowState() & Qt::WindowMinimized));
    }

    void topmostKeepsTheWindowAsItWas_data()
    {
        QTest::addColumn<QString>("state");
        QTest::newRow("normal") << "normal";
        QTest::newRow("minimized") << "minimized";
        QTest::newRow("hidden in the tray") << "hidden";
    }
    void topmostKeepsTheWindowAsItWas()
    {
        QFETCH(QString, state);
        Rig rig;
        rig.window.show();
        rig.window.move(40, 50);
        if (state == "minimized")
            rig.window.minimize();
        else if (state == "hidden")
            rig.window.hide();
        const bool visible = rig.window.isVisible();
        const Qt::WindowStates windowState = rig.window.windowState();
        const QSize size = rig.window.size();

        for (bool onTop : { true, false }) {
            onTop ? rig.window.setAlwaysOnTop() : rig.window.clearAlwaysOnTop();
            QCOMPARE(rig.window.windowFlags().testFlag(Qt::WindowStaysOnTopHint), onTop);
            QCOMPARE(rig.window.isVisible(), visible);
            QCOMPARE(rig.window.windowState(), windowState);
            QCOMPARE(rig.window.size(), size);
            QCOMPARE(rig.window.pos(), QPoint(40, 50));
        }
    }

    void pointerMovement()
    {
        Rig rig;
        rig.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
        QSignalSpy moved(&rig.window, &MainWindow::pointerMoved);

        const QList<QPair<QWidget*, bool>> cases {
            { rig.window.centralWidget(), true }, // between the band and the list
            { rig.window.flatButton(0), true },
            { rig.window.flatButton(2), true },
            { rig.window.flatButton(0)->parentWidget(), true }, // the button band
            { rig.window.statusBar(), true },
            { rig.window.statusBar()->findChild<QLabel*>(), true },
            { rig.window.statusList()->viewport(), false },
            { rig.window.statusList(), false },
        };
        for (const auto& [widget, stops] : cases) {
            moved.clear();
            const QPoint at = widget == rig.window.centralWidget() ? QPoint(5, 36) : widget->rect().center();
            QMouseEvent move(
                QEvent::MouseMove, at, widget->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(widget, &move);
            QVERIFY2(moved.isEmpty() != stops, widget->metaObject()->className());
        }
    }

    void aboutBoxDisablesTheWindow_data()
    {
        QTest::addColumn<bool>("useHotkeys");
        QTest::addColumn<QString>("close");
        QTest::addColumn<QStringList>("hotkeyCalls");
        const QStringList reloaded { "unload", "load" };
        QTest::newRow("OK, hotkeys on") << true << "ok" << reloaded;
        QTest::newRow("OK, hotkeys off") << false << "ok" << QStringList { "unload" };
        QTest::newRow("close box is OK") << true << "close" << reloaded;
        QTest::newRow("Escape is OK") << true << "escape" << reloaded;
    }
    void aboutBoxDisablesTheWindow()
    {
        QFETCH(bool, useHotkeys);
        QFETCH(QString, close);
        QFETCH(QStringList, hotkeyCalls);
        TestStore store;
        OptionsModel options;
        SettingsManager settings(store.store(), options);
        settings.firstStartup();
        store.store().write("Display", "Use Hotkeys", useHotkeys ? "1" : "0");
        settings.loadSettings();

        Rig rig;
        rig.window.show();
        AboutBoxOpener about(rig.window, rig.tray, settings);
        about.open();
        QVERIFY(!rig.window.isEnabled());
        AboutBox* box = about.box();
        QVERIFY(box && box->isVisible() && !box->isModal());

        if (close == "ok")
            box->findChild<QPushButton*>()->click();
        else if (close == "close")
            box->close();
        else
            QTest::keyClick(box, Qt::Key_Escape);
        QTRY_VERIFY(about.box() == nullptr); // unloaded
        QVERIFY(rig.window.isEnabled());
        QCOMPARE(rig.tray.calls, hotkeyCalls);
    }

    // Contents: the manual in the viewer, or the help box when the file or the viewer is missing.
    // The log: whatever happens, no box.
    void help_data()
    {
        QTest::addColumn<bool>("fileThere");
        QTest::addColumn<bool>("viewerWorks");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("opened") << true << true << QStringList { "open ReadMe.html", "open Log.txt" };
        QTest::newRow("no viewer") << true << false
                                   << QStringList { "open ReadMe.html", "Help box", "open Log.txt" };
        QTest::newRow("no file") << false << true << QStringList { "Help box", "open Log.txt" };
    }
    void help()
    {
        QFETCH(bool, fileThere);
        QFETCH(bool, viewerWorks);
        QTemporaryDir folder;
        QFile manual(folder.filePath("ReadMe.html"));
        QVERIFY(!fileThere || manual.open(QIODevice::WriteOnly));
        QStringList calls;
        HelpCommands help([&] { return folder.path() + "/"; }, nullptr);
        help.setOpenUrl([&](const QUrl& url) {
            calls << "open " + url.fileName();
            return viewerWorks;
        });
        help.setShowHelpFailure([&] { calls << "Help box"; });
        help.openContents();
        help.openLog();
        QTEST(calls, "expected");
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_MainWindow.moc"
