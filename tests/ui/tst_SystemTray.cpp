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
    void activation_data();
    void activation();
    void flashing_data();
    void flashing();
    void shownOnlyInAnExistingTray();
};

void TestSystemTray::activation_data()
{
    QTest::addColumn<QSystemTrayIcon::ActivationReason>("reason");
    QTest::addColumn<bool>("singleClickHost");
    QTest::addColumn<QStringList>("calls");

    const QStringList restore { "restore", "normal" };
    const QStringList stopOnly { "normal" };
    QTest::newRow("double click") << QSystemTrayIcon::DoubleClick << false << restore;
    QTest::newRow("first click of a double click") << QSystemTrayIcon::Trigger << false << stopOnly;
    QTest::newRow("click on a host without double clicks") << QSystemTrayIcon::Trigger << true << restore;
    QTest::newRow("right click: Qt opens the menu") << QSystemTrayIcon::Context << false << stopOnly;
    QTest::newRow("middle click") << QSystemTrayIcon::MiddleClick << true << stopOnly;
    QTest::newRow("unknown") << QSystemTrayIcon::Unknown << false << stopOnly;
}

void TestSystemTray::activation()
{
    QFETCH(QSystemTrayIcon::ActivationReason, reason);
    QFETCH(bool, singleClickHost);
    QFETCH(QStringList, calls);

    RecordingTray fake;
    fake.singleClick = singleClickHost;
    SystemTray tray(fake, fake);
    tray.startFlashing();
    tray.activated(reason);
    QCOMPARE(fake.calls, calls);
    QVERIFY(!tray.isFlashing()); // every activation stops the flashing
}

void TestSystemTray::flashing_data()
{
    // Each step: "start", "tick" or "stop"; the icon calls they make in order.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("calls");

    QTest::newRow("alternates") << QStringList { "start", "tick", "tick", "tick" }
                                << QStringList { "blank", "normal", "blank" };
    QTest::newRow("stop puts the normal icon back")
        << QStringList { "start", "tick", "stop" } << QStringList { "blank", "normal" };
    QTest::newRow("phase survives a stop on the blank icon") << QStringList { "start", "tick", "stop",
        "start", "tick", "tick" } << QStringList { "blank", "normal", "normal", "blank" };
    QTest::newRow("phase survives a stop on the normal icon") << QStringList { "start", "tick", "tick",
        "stop", "start", "tick" } << QStringList { "blank", "normal", "normal", "blank" };
    QTest::newRow("a second alert keeps flashing")
        << QStringList { "start", "tick", "start", "tick" } << QStringList { "blank", "normal" };
}

void TestSystemTray::flashing()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, calls);

    RecordingTray fake;
    SystemTray tray(fake, fake);
    for (const QString& step : steps) {
        if (step == "start") {
            tray.startFlashing();
            QVERIFY(tray.isFlashing());
        } else if (step == "tick") {
            tray.flashTick();
        } else {
            tray.stopIconFlashing();
            QVERIFY(!tray.isFlashing());
        }
    }
    QCOMPARE(fake.calls, calls);
}

void TestSystemTray::shownOnlyInAnExistingTray()
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

QTEST_MAIN(TestSystemTray)
#include "tst_SystemTray.moc"
