#include "MenuActions.h"
#include "MonitorRig.h"
#include "ProtectionIndicator.h"
#include "QtTrayBackend.h"
#include "RecordingDesktop.h"
#include "StatusDisplay.h"
#include "SystemTray.h"

class TestSystemTray : public QObject
{
    Q_OBJECT

private slots:
    // Steps: start, tick, stop, or a click: double, click (a double click's first), tap (a host without
    // double clicks), context. Every click stops the flashing; a double click or a tap restores.
    void iconFollowsFlashingAndClicks()
    {
        const char* const cases[][2] { { "start tick tick tick", "blank normal blank" },
            { "start tick stop start tick tick", "blank normal normal blank" },
            { "start double", "restore normal" }, { "start click", "normal" },
            { "start tap", "restore normal" }, { "start context", "normal" } };
        for (const auto& [steps, calls] : cases) {
            RecordingDesktop fake;
            SystemTray tray(fake, fake);
            for (const QString& step : QString(steps).split(' ')) {
                fake.singleClick = step == "tap";
                if (step == "start")
                    tray.startFlashing();
                else if (step == "tick")
                    tray.flashTick();
                else if (step == "stop")
                    tray.stopIconFlashing();
                else
                    tray.activated(step == "double" ? QSystemTrayIcon::DoubleClick
                            : step == "context"     ? QSystemTrayIcon::Context
                                                    : QSystemTrayIcon::Trigger);
                QCOMPARE(tray.isFlashing(), step == "start" || step == "tick");
            }
            QCOMPARE(fake.calls.join(' '), QString(calls));
        }
    }

    // Each protection state has an image and tooltip of its own; flashing blanks the image and puts it
    // back. Without a notification area the icon stays asked for, but the window must not hide into it.
    void protectionStateAndTheTray()
    {
        using Reason = Event::Reason;
        const QList<MonitoringSwitch::Unguarded> unguarded { { "21", Reason::NeedsPrivileges },
            { "23", Reason::NeedsPrivileges }, { "8080", Reason::InUse }, { "70000", Reason::InvalidPort } };
        const struct
        {
            ProtectionState state;
            quint64 allowed;
            const char *tip, *problem;
        } cases[] { { ProtectionState::opened(12, {}), 0, "Sentrel\nAll 12 ports guarded", "" },
            { ProtectionState::opened(12, unguarded), 1,
                "Sentrel\n4 of 12 ports unguarded\nTo guard the rest, join the group sentrel and log in again: sudo "
                "adduser $USER sentrel\n1 allowed connection",
                "4 of 12 ports unguarded: 21, 23 need administrator rights; 8080 is already open; 70000 is "
                "not a valid port" },
            { ProtectionState::stopped(), 2, "Sentrel\nStopped\n2 allowed connections", "" },
            { ProtectionState::paused(), 0, "Sentrel\nPaused while Options is open", "" } };
        RecordingDesktop fake;
        SystemTray tray(fake, fake);
        QList<QImage> images;
        for (const auto& c : cases) {
            tray.showProtection(c.state, c.allowed);
            QCOMPARE(fake.tip, QString(c.tip));
            QCOMPARE(c.state.problems().join('|'), QString(c.problem));
            QVERIFY(!images.contains(fake.image));
            images << fake.image;
        }
        QCOMPARE(images.first(), QImage(":/sentrel.png"));
        tray.trayIconAdd();
        fake.trayAvailable = false;
        QVERIFY(!tray.isShown() && fake.iconVisible);
        fake.trayAvailable = true;
        QVERIFY(tray.isShown());
        tray.trayIconDelete();
        QVERIFY(!tray.isShown());

        MenuActions actions;
        QtTrayBackend backend(actions);
        SystemTray real(backend, fake);
        const auto shown = [&backend] { return backend.icon().icon().pixmap(32).toImage(); };
        real.showProtection(ProtectionState::paused(), 0);
        const QImage paused = shown();
        real.startFlashing();
        real.flashTick();
        QVERIFY(shown() != paused);
        real.stopIconFlashing();
        QCOMPARE(shown(), paused);
        QCOMPARE(backend.icon().toolTip(), "Sentrel\nPaused while Options is open");
        // The tray menu: Restore first and bold, and an Exit with no shortcut to show that is File > Exit.
        QMenu* menu = backend.icon().contextMenu();
        QVERIFY(menu->actions().first() == actions.restore && menu->defaultAction() == actions.restore);
        QAction* exit = menu->actions().last();
        QSignalSpy exited(actions.exit, &QAction::triggered);
        QVERIFY(exit->shortcut().isEmpty());
        exit->trigger();
        QCOMPARE(exited.count(), 1);
    }

    // Every guard counts: TCP and UDP ports, the packet watch, blocking while it is on. The remedy is
    // named for what the group would give, and only to a process outside it.
    void everyGuardCounts()
    {
        using R = Event::Reason;
        using S = ProtectionState::Single;
        const struct
        {
            QList<MonitoringSwitch::Unguarded> tcp, udp;
            S watch, blocking;
            bool member;
            const char *ready, *problems;
            bool remedy;
        } cases[] { { {}, {}, S::Working, S::NotWanted, false, "Ready.", "", false },
            { { { "21", R::NeedsPrivileges } }, { { "137", R::NeedsPrivileges } }, S::NeedsPrivileges,
                S::NeedsPrivileges, false,
                "Ready, partly guarded: 1 of 2 ports unguarded, 1 of 1 UDP port unguarded, stealth scan watch "
                "off, blocking off.",
                "1 of 2 ports unguarded: 21 needs administrator rights|1 of 1 UDP port unguarded: 137 needs "
                "administrator rights|Stealth scan watch off: it needs administrator rights|Blocking intruders "
                "off: it needs administrator rights",
                true },
            { { { "21", R::NeedsPrivileges } }, {}, S::Working, S::Working, true,
                "Ready, partly guarded: 1 of 2 ports unguarded.", "1 of 2 ports unguarded: 21 needs administrator rights",
                false },
            { {}, { { "137", R::InUse } }, S::Failed, S::NotWanted, false,
                "Ready, partly guarded: 1 of 1 UDP port unguarded, stealth scan watch off.",
                "1 of 1 UDP port unguarded: 137 is already open|Stealth scan watch off: it could not be started", false },
            { {}, {}, S::NotWanted, S::NeedsPrivileges, false, "Ready, partly guarded: blocking off.",
                "Blocking intruders off: it needs administrator rights", true } };
        for (const auto& c : cases) {
            ProtectionState::Guards guards { 2, c.tcp, 1, c.udp, c.watch, c.blocking, c.member };
            const ProtectionState state = ProtectionState::opened(guards);
            QCOMPARE(state.readyText(), QString(c.ready));
            QCOMPARE(state.problems().join('|'), QString(c.problems));
            QCOMPARE(state.remedy().contains("sudo adduser $USER sentrel"), c.remedy);
        }
    }

    // The state follows the switch and the options dialog, whose pause gives the label back its text
    // unless a newer one came; the problem is a status line only while some port is unguarded.
    void indicatorFollowsMonitoringAndOptions()
    {
        MonitorRig rig({ QString::number(Loopback::freePorts(1).at(0)), "70000" });
        MonitoringState shown;
        StatusDisplay status(shown);
        RecordingDesktop fake;
        SystemTray tray(fake, fake);
        ProtectionIndicator indicator(rig.monitoring, status, &tray, nullptr);
        QStringList tips { fake.tip };
        rig.monitoring.toggleMonitoring();
        tips << fake.tip;
        status.setStatusText("Ready.");
        rig.monitoring.closePortListeners();
        indicator.setPaused(true);
        tips << fake.tip + " / " + status.statusText();
        rig.monitoring.openPortListeners();
        indicator.setPaused(false);
        indicator.reportProblems();
        tips << fake.tip + " / " + status.statusText();
        indicator.setPaused(true);
        status.setStatusText("Ready.");
        indicator.setPaused(false);
        rig.monitoring.toggleMonitoring();
        indicator.reportProblems();
        tips << fake.tip + " / " + status.statusText();
        QCOMPARE(tips.join('|').replace("Sentrel\n", ""),
            "Stopped|1 of 2 ports unguarded|Paused while Options is open / Paused while Options is open.|"
            "1 of 2 ports unguarded / Ready, partly guarded: 1 of 2 ports unguarded.|Stopped / Ready.");
        QCOMPARE(status.model().lines(), { "[ ORRA ] - 1 of 2 ports unguarded: 70000 is not a valid port" });
    }
};

QTEST_MAIN(TestSystemTray)
#include "tst_SystemTray.moc"
