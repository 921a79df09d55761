#include "DesktopSeams.h"
#include "SystemTray.h"
#include "TrayBackend.h"

#include <QtTest>

namespace {
// A notification area that records what it was asked and holds at most one icon.
class RecordingTray final : public TrayBackend, public MonitorWindowAccess
{
public:
    void setIconVisible(bool visible) override
    {
        calls << (visible ? "show" : "hide");
        icons = visible ? 1 : 0;
    }
    void setBlank(bool blank) override { calls << (blank ? "blank" : "normal"); }
    bool isIconVisible() const override { return icons == 1; }
    bool isTrayAvailable() const override { return available; }
    bool isSingleClickHost() const override { return singleClick; }
    void restoreMonitor() override { calls << "restore"; }
    void setMonitorEnabled(bool) override { }

    QStringList calls;
    int icons = 0;
    bool available = true;
    bool singleClick = false;
};
} // namespace

class TestSystemTray : public QObject
{
    Q_OBJECT

private slots:
    void iconFollowsFlashingAndClicks_data()
    {
        // Steps: "start", "tick", "stop", a click ("double", "click", "context", "middle", "unknown")
        // or "single-click-host"; the icon and window calls they make, in order.
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("calls");
        const auto row = [](const char* name, const char* steps, const char* calls) {
            QTest::newRow(name) << QString(steps) << QString(calls);
        };
        row("alternates", "start tick tick tick", "blank normal blank");
        row("stop puts the normal icon back", "start tick stop", "blank normal");
        row("phase survives a stop on the blank icon", "start tick stop start tick tick",
            "blank normal normal blank");
        row("phase survives a stop on the normal icon", "start tick tick stop start tick",
            "blank normal normal blank");
        row("a second alert keeps flashing", "start tick start tick", "blank normal");
        // Every click stops the flashing; only a double click, or a click where the host has no
        // double clicks, restores the window. A right click opens the menu in Qt.
        row("double click", "start double", "restore normal");
        row("first click of a double click", "start click", "normal");
        row("click on a host without double clicks", "single-click-host start click", "restore normal");
        row("right click", "start context", "normal");
        row("middle click", "single-click-host start middle", "normal");
        row("unknown", "start unknown", "normal");
    }
    void iconFollowsFlashingAndClicks()
    {
        QFETCH(QString, steps);
        QFETCH(QString, calls);
        const QHash<QString, QSystemTrayIcon::ActivationReason> clicks { { "double",
                                                                             QSystemTrayIcon::DoubleClick },
            { "click", QSystemTrayIcon::Trigger }, { "context", QSystemTrayIcon::Context },
            { "middle", QSystemTrayIcon::MiddleClick }, { "unknown", QSystemTrayIcon::Unknown } };
        RecordingTray fake;
        SystemTray tray(fake, fake);
        for (const QString& step : steps.split(' ')) {
            if (step == "start") {
                tray.startFlashing();
                QVERIFY(tray.isFlashing());
            } else if (step == "tick") {
                tray.flashTick();
            } else if (step == "single-click-host") {
                fake.singleClick = true;
            } else {
                step == "stop" ? tray.stopIconFlashing() : tray.activated(clicks.value(step));
                QVERIFY(!tray.isFlashing());
            }
        }
        QCOMPARE(fake.calls.join(' '), calls);
    }

    void shownOnlyInAnExistingTray()
    {
        RecordingTray fake;
        SystemTray tray(fake, fake);
        QVERIFY(!tray.isShown());

        tray.trayIconAdd();
        tray.trayIconAdd();
        QCOMPARE(fake.icons, 1);
        QVERIFY(tray.isShown());

        // No notification area (yet): the icon stays asked for, so a tray that appears gets it, but
        // the window must not hide into it.
        fake.available = false;
        QVERIFY(!tray.isShown());
        fake.available = true;
        QVERIFY(tray.isShown());

        tray.trayIconDelete();
        QCOMPARE(fake.icons, 0);
        QVERIFY(!tray.isShown());

        // The timer drives the same step as flashTick, once a second.
        tray.startFlashing();
        fake.calls.clear();
        QTRY_COMPARE_WITH_TIMEOUT(fake.calls.size(), 2, 5000);
        QCOMPARE(fake.calls, QStringList({ "blank", "normal" }));
    }
};

QTEST_MAIN(TestSystemTray)
#include "tst_SystemTray.moc"
