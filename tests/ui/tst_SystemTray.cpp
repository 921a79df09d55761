#include "DesktopSeams.h"
#include "SystemTray.h"
#include "TrayBackend.h"

#include <QtTest>

namespace {
// A notification area that records what it was asked.
// clang-format off
struct RecordingTray final : TrayBackend, MonitorWindowAccess
{
    void setIconVisible(bool visible) override { icon = visible; }
    void setBlank(bool blank) override { calls << (blank ? "blank" : "normal"); }
    bool isIconVisible() const override { return icon; }
    bool isTrayAvailable() const override { return available; }
    bool isSingleClickHost() const override { return singleClick; }
    void restoreMonitor() override { calls << "restore"; }
    void setMonitorEnabled(bool) override { }

    QStringList calls;
    bool icon = false, available = true, singleClick = false;
};
// clang-format on
} // namespace

class TestSystemTray : public QObject
{
    Q_OBJECT

private slots:
    // Steps: "start", "tick", "stop" or a click: "double", "click" (the first of a double click), "tap"
    // (a click where the host has no double clicks), "context". Every click stops the flashing; only a
    // double click or a tap restores the window. A stop puts the normal icon back; the next alert goes
    // on from the phase it stopped in.
    void iconFollowsFlashingClicksAndTheTray()
    {
        const char* const cases[][2] { { "start tick tick tick", "blank normal blank" },
            { "start tick stop start tick tick", "blank normal normal blank" },
            { "start double", "restore normal" }, { "start click", "normal" },
            { "start tap", "restore normal" }, { "start context", "normal" } };
        const QHash<QString, QSystemTrayIcon::ActivationReason> clicks {
            { "double", QSystemTrayIcon::DoubleClick }, { "click", QSystemTrayIcon::Trigger },
            { "tap", QSystemTrayIcon::Trigger }, { "context", QSystemTrayIcon::Context }
        };
        for (const auto& [steps, calls] : cases) {
            RecordingTray fake;
            SystemTray tray(fake, fake);
            for (const QString& step : QString(steps).split(' ')) {
                fake.singleClick = step == "tap";
                if (step == "start")
                    tray.startFlashing();
                else if (step == "tick")
                    tray.flashTick();
                else
                    step == "stop" ? tray.stopIconFlashing() : tray.activated(clicks.value(step));
                QCOMPARE(tray.isFlashing(), step == "start" || step == "tick");
            }
            QCOMPARE(fake.calls.join(' '), QString(calls));
        }

        // Without a notification area (yet) the icon stays asked for, for a tray that appears, but the
        // window must not hide into it.
        RecordingTray fake;
        SystemTray tray(fake, fake);
        tray.trayIconAdd();
        fake.available = false;
        QVERIFY(!tray.isShown() && fake.icon);
        fake.available = true;
        QVERIFY(tray.isShown());
        tray.trayIconDelete();
        QVERIFY(!tray.isShown());
    }
};

QTEST_MAIN(TestSystemTray)
#include "tst_SystemTray.moc"
