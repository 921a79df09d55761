#include "OptionsRig.h"

#include <QtTest>

class TestOptionsCycle : public QObject
{
    Q_OBJECT

private slots:
    void closeSteps_data();
    void closeSteps();
    void emptyPortListRoundTrip();
};

void TestOptionsCycle::closeSteps_data()
{
    QTest::addColumn<bool>("monitoringOn");
    QTest::addColumn<bool>("storedRps");
    QTest::addColumn<int>("editedRps"); // -1: unchanged
    QTest::addColumn<bool>("ok");
    QTest::addColumn<bool>("listening");
    QTest::addColumn<bool>("sentinel");

    QTest::newRow("cancel, monitoring off") << false << false << -1 << false << false << false;
    QTest::newRow("cancel, monitoring on") << true << false << -1 << false << true << false;
    QTest::newRow("cancel drops a newly checked RPS") << true << false << 1 << false << true << false;
    QTest::newRow("OK, monitoring off, RPS checked") << false << false << 1 << true << false << false;
    QTest::newRow("OK, monitoring on, RPS newly checked") << true << false << 1 << true << true << true;
    QTest::newRow("OK, monitoring on, RPS newly unchecked") << true << true << 0 << true << true << false;
}

void TestOptionsCycle::closeSteps()
{
    QFETCH(bool, monitoringOn);
    QFETCH(bool, storedRps);
    QFETCH(int, editedRps);
    QFETCH(bool, ok);
    QFETCH(bool, listening);
    QFETCH(bool, sentinel);

    const std::vector<int> ports = Loopback::freePorts(2);
    CycleRig rig({ QString::number(ports[0]), QString::number(ports[1]) }, storedRps);
    if (monitoringOn)
        rig.monitoring.toggleMonitoring();
    rig.open();
    QVERIFY(!Loopback::isListening(ports[0]));
    const QByteArray stored = rig.file();
    if (editedRps >= 0)
        rig.options.setCheckState(OptionsModel::Check::Rps, editedRps);

    ok ? rig.cycle.ok() : rig.cycle.close();

    QCOMPARE(rig.journal.calls, (QStringList { "netcheck off", "reapply", "enable", "hide" }));
    QCOMPARE(Loopback::isListening(ports[0]) && Loopback::isListening(ports[1]), listening);
    QCOMPARE(rig.monitoring.sentinel().isLoaded(), sentinel);
    QVERIFY(rig.out.lines().filter("Monitoring Port: ").isEmpty());
    QCOMPARE(rig.state.isActive(), monitoringOn);
    if (!ok)
        QCOMPARE(rig.file(), stored);
}

void TestOptionsCycle::emptyPortListRoundTrip()
{
    CycleRig rig({ "21", "23", "25" });
    rig.options.removePorts({ 0, 1, 2 });
    rig.cycle.ok();
    QCOMPARE(rig.store.store().read("Ports", "Number"), QString("-1"));
    QVERIFY(rig.options.ports().isEmpty());
    rig.cycle.ok();
    QCOMPARE(rig.store.store().read("Ports", "Number"), QString("-1"));
    QVERIFY(rig.options.ports().isEmpty());
}

QTEST_GUILESS_MAIN(TestOptionsCycle)
#include "tst_OptionsCycle.moc"
