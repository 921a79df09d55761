#include "AboutBox.h"
#include "AboutBoxOpener.h"
#include "ElidedLabel.h"
#include "HelpCommands.h"
#include "MainWindow.h"
#include "MenuActions.h"
#include "MonitoringState.h"
#include "OptionsModel.h"
#include "RecordingDesktop.h"
#include "SettingsManager.h"
#include "StatusDisplay.h"
#include "TestFiles.h"
#include "TestStore.h"

namespace {
// The real window over a real status display, not yet shown, with a tray icon and the hotkeys.
struct Rig
{
    Rig() { window.setTray(&desktop); }

    // Caption, check mark, list shown, lines seen, outer height (frame, menu bar and client area),
    // status bar top.
    QString view()
    {
        const int outer = window.frameGeometry().height() - window.geometry().height()
            + window.menuBar()->sizeHint().height() + window.centralWidget()->height();
        return QString::asprintf("%s %d %d %d %d %d",
            qPrintable(window.flatButton(MainWindow::MonitorButton)->text()), actions.monitor->isChecked(),
            !window.statusList()->isHidden(), status.model().isWatched(), outer, window.statusBar()->y());
    }

    MonitoringState monitoring;
    StatusDisplay status { monitoring };
    MenuActions actions;
    MainWindow window { status, actions };
    RecordingDesktop desktop; // the tray icon and the hotkeys
};

constexpr auto px = [](int twips) { return (twips + 7) / 15; };
} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    // Each way to fold the view gives the designed heights (the status bar always fits); measured before
    // the window shows, even folded, the list has the rows of the shown, full list.
    void viewSwitch_data()
    {
        QTest::addColumn<QString>("driver");
        for (const char* name : { "button", "View > Monitor", "Ctrl+M", "start-up before the window shows" })
            QTest::newRow(name) << QString(name);
    }
    void viewSwitch()
    {
        QFETCH(QString, driver);
        Rig rig;
        const auto toggle = [&] {
            if (driver == "button")
                return rig.window.flatButton(MainWindow::MonitorButton)->click();
            if (driver == "View > Monitor")
                return rig.actions.monitor->trigger();
            driver == "Ctrl+M" ? QTest::keyClick(&rig.window, Qt::Key_M, Qt::ControlModifier)
                               : rig.window.toggleMonitorView();
        };
        const bool startUp = driver.startsWith("start-up");
        if (startUp)
            toggle();
        rig.window.measureStatusList(); // as start-up does: before the window shows, with no line
        const std::pair measured { rig.status.statusItemHeight(), rig.status.statusVisibleRows() };
        for (int i = 0; i < 20; ++i)
            rig.status.addStatusLine(QString::number(i));
        rig.status.model().flush();
        rig.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
        const QString expanded = QString("Monitor [ON] 1 1 1 %1 %2").arg(px(4575)).arg(px(3600));
        if (!startUp) {
            QCOMPARE(rig.view(), expanded);
            toggle();
        }
        const int decoration = rig.window.frameGeometry().height() - rig.window.geometry().height();
        const int fit = decoration + rig.window.menuBar()->sizeHint().height() + px(505) + px(255);
        QCOMPARE(rig.view(), QString("Monitor [OFF] 0 0 0 %1 %2").arg(std::max(px(1435), fit)).arg(px(505)));
        toggle();
        QCOMPARE(rig.view(), expanded);
        const int row = rig.window.statusList()->sizeHintForRow(0);
        QCOMPARE(measured, std::pair(row, rig.window.statusList()->viewport()->height() / row));
    }

    // The status text stays whole in both views under a title bar as tall as openbox's (offscreen windows
    // have none: a taller menu bar stands in), at 100% and with fonts at 200%.
    void statusTextWholeUnderATallTitleBar()
    {
        for (const int scale : { 1, 2 }) {
            Rig rig;
            auto* label = rig.window.statusBar()->findChild<ElidedLabel*>();
            QFont font = label->font();
            font.setPointSizeF(8.25 * scale), label->setFont(font), font.setPixelSize(40 * scale);
            rig.window.menuBar()->setFont(font);
            rig.status.setStatusText("Protecting..");
            rig.window.show();
            QTRY_COMPARE(label->text(), "Protecting..");
            for (int fold = 0; fold < 2; ++fold, rig.window.toggleMonitorView())
                QVERIFY(label->visibleRegion().boundingRect().contains(label->fontMetrics().boundingRect(
                    label->contentsRect(), int(label->alignment()), label->text())));
        }
    }

    // Minimized, the window goes into a shown tray icon within a second, else stays on the task bar; its
    // lines are seen only while it is shown on a display. Topmost or not, it stays where it was.
    void minimizedWindowGoesIntoAShownTray()
    {
        Rig rig;
        MainWindow& window = rig.window;
        const auto step = [&](bool tray, const std::function<void()>& action) {
            rig.desktop.trayShown = tray;
            action();
            return QString("%1 %2 %3").arg(window.isVisible()).arg(window.isMinimized()).arg(
                rig.status.model().isWatched());
        };
        QCOMPARE(step(true, [] {}), "0 0 0");
        window.show();
        QCOMPARE(step(true, [&] { window.hideMinimizedMonitor(); }), "1 0 1");
        QCOMPARE(step(false, [&] { rig.actions.minimize->trigger(), window.hideMinimizedMonitor(); }), "1 1 0");
        rig.desktop.trayShown = true;
        window.startMinimizedWatch();
        QTRY_VERIFY_WITH_TIMEOUT(!window.isVisible(), 3000);
        QCOMPARE(step(false, [&] { window.hideMinimizedMonitor(); }), "1 1 0");
        QCOMPARE(step(false, [&] { window.restoreMonitor(); }), "1 0 1");
        QCOMPARE(step(false, [&] { rig.status.setDisplayPresent(false); }), "1 0 0");
        rig.status.setDisplayPresent(true);

        for (const bool minimized : { true, false }) {
            window.showNormal();
            window.move(40, 50);
            minimized ? window.minimize() : window.hide(); // or hidden in the tray
            const Qt::WindowStates state = window.windowState();
            const QSize size = window.size();
            for (bool onTop : { true, false }) {
                onTop ? window.setAlwaysOnTop() : window.clearAlwaysOnTop();
                QCOMPARE(window.windowFlags().testFlag(Qt::WindowStaysOnTopHint), onTop);
                QVERIFY(window.isVisible() == minimized && window.windowState() == state
                    && window.size() == size && window.pos() == QPoint(40, 50));
            }
        }
    }

    // A long address is cut in its middle, whole in the tooltips and in a wider window of the same height.
    void longTextsAndPointer()
    {
        Rig rig;
        rig.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
        const QString text = "Intruder Detected: 2001:db8:1234:5678:9abc:def0:1234:5678 Port: 12345";
        rig.status.setStatusText(text);
        rig.status.addStatusLine(text);
        auto* label = rig.window.statusBar()->findChild<ElidedLabel*>();
        QTRY_COMPARE(label->toolTip(), text);
        QVERIFY2(label->text().contains(QChar(0x2026)) && label->text().endsWith("12345"),
            qPrintable(label->text()));
        rig.status.model().flush();
        QCOMPARE(rig.status.model().index(0).data(Qt::ToolTipRole).toString(), "[ ORRA ] - " + text);
        QCOMPARE(rig.window.statusList()->textElideMode(), Qt::ElideMiddle);
        const int height = rig.window.height();
        rig.window.resize(rig.window.width() + 300, height + 60);
        QTRY_COMPARE(label->text(), text);
        QCOMPARE(rig.window.height(), height);
        QCOMPARE(rig.window.statusList()->width(), rig.window.centralWidget()->width());

        // The pointer is reported over the window, its buttons and its status bar, but not over the list.
        QSignalSpy moved(&rig.window, &MainWindow::pointerMoved);
        QWidget* central = rig.window.centralWidget();
        const std::tuple<QWidget*, QPoint, bool> cases[] { { central, { 5, 36 }, true }, // below the buttons
            { rig.window.flatButton(2), { 5, 5 }, true },
            { rig.window.statusBar()->findChild<QLabel*>(), { 5, 5 }, true },
            { central, rig.window.statusList()->geometry().center(), false } };
        for (const auto& [widget, at, reported] : cases) {
            moved.clear();
            QMouseEvent move(
                QEvent::MouseMove, at, widget->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(widget, &move);
            QCOMPARE(moved.isEmpty(), !reported);
        }
    }

    // The About box disables the window and the hotkeys until closed. Contents: the manual, or the help
    // box without the file; without a viewer the label says so and a box offers the folder.
    void helpMenu()
    {
        for (const bool useHotkeys : { true, false }) {
            TestStore store;
            OptionsModel options;
            SettingsManager settings(store.store(), options);
            store.store().write("Display", "Use Hotkeys", useHotkeys ? "1" : "0");
            settings.loadSettings();
            Rig rig;
            rig.window.show();
            AboutBoxOpener about(rig.window, rig.desktop, settings);
            about.open();
            AboutBox* box = about.box();
            QVERIFY(!rig.window.isEnabled() && box && box->isVisible() && !box->isModal());
            useHotkeys ? box->findChild<QPushButton*>()->click() : QTest::keyClick(box, Qt::Key_Escape);
            QTRY_VERIFY(about.box() == nullptr && rig.window.isEnabled()); // unloaded
            QCOMPARE(
                rig.desktop.calls.join(", "), useHotkeys ? "hotkeys unload, hotkeys load" : "hotkeys unload");
        }

        // Contents and Log through the desktop's opener: a stand-in on PATH that has no viewer for .txt.
        QTemporaryDir folder;
        QVERIFY(QDir().mkpath(folder.filePath("bin")));
        const QString opener = folder.filePath("bin/xdg-open");
        QVERIFY(writeFile(opener, "#!/bin/sh\necho \"$1\" >>\"$0.log\"\ncase \"$1\" in *.txt) exit 4;; esac\n")
            && QFile::setPermissions(opener, QFile::ExeOwner | QFile::ReadOwner));
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", folder.filePath("bin").toLocal8Bit() + ":" + path);
        Rig rig;
        StatusDisplay& status = rig.status;
        QStringList calls;
        HelpCommands help([&] { return folder.path() + "/"; }, status, nullptr);
        help.setShowHelpFailure([&] { calls << "Help box"; });
        help.openContents();
        help.openLog();
        QCOMPARE(status.statusText(), "No Log.txt yet in " + folder.path());
        for (const char* file : { "ReadMe.html", "Log.txt" })
            QVERIFY(QFile(folder.filePath(file)).open(QIODevice::WriteOnly));
        help.openContents();
        help.openLog();
        QTRY_VERIFY(help.folderOffer());
        QCOMPARE(status.statusText(), "No viewer is set up for Log.txt");
        QCOMPARE(help.folderOffer()->informativeText(), "It is in " + folder.path() + ".");
        help.folderOffer()->defaultButton()->click();
        const auto opened = [&] { // the two openers run side by side
            QStringList paths = QString(fileBytes(folder.filePath("bin/xdg-open.log"))).split('\n');
            return paths.sort(), paths;
        };
        QTRY_COMPARE(opened(), QStringList({ "", folder.path(), folder.filePath("Log.txt"), folder.filePath("ReadMe.html") }));
        QCOMPARE(calls, { "Help box" });
        qputenv("PATH", path);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_MainWindow.moc"
