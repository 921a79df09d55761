#include "ConnectionProbe.h"
#include "NetConnectionWatch.h"
#include "OptionsRig.h"

#include <QtTest>

namespace {
struct Connected final : ConnectionProbe
{
    bool isRemoteConnectionActive() override { return true; }
};
} // namespace

class TestOptionsCycle : public QObject
{
    Q_OBJECT

private slots:
    void closeSteps_data();
    void closeSteps();
    void cancelDropsEveryEditAndLeavesTheFileAlone();
    void emptyPortListRoundTrip();
    void pagesAndHighlight();
    void pendingSoundIsWhatTheWatchPlays();
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
    if (editedRps >= 0)
        rig.options.setCheckState(OptionsModel::Check::Rps, editedRps);

    ok ? rig.cycle.ok() : rig.cycle.close();

    QCOMPARE(rig.journal.calls, (QStringList { "netcheck off", "reapply", "enable", "hide" }));
    QCOMPARE(Loopback::isListening(ports[0]) && Loopback::isListening(ports[1]), listening);
    QCOMPARE(rig.monitoring.sentinel().isLoaded(), sentinel);
    QVERIFY(rig.out.lines().filter("Monitoring Port: ").isEmpty());
    QCOMPARE(rig.state.isActive(), monitoringOn);
}

void TestOptionsCycle::cancelDropsEveryEditAndLeavesTheFileAlone()
{
    CycleRig rig({ "21", "23" });
    const QByteArray before = rig.file();
    for (int i = 0; i < int(OptionsModel::Check::Count); ++i)
        rig.options.setCheckState(OptionsModel::Check(i), 1 - rig.options.checkState(OptionsModel::Check(i)));
    for (int i = 0; i < int(OptionsModel::Text::Count); ++i)
        rig.options.setText(OptionsModel::Text(i), "edited");
    rig.options.setOn(OptionsModel::Choice::Logs, !rig.options.isOn(OptionsModel::Choice::Logs));
    rig.options.appendPort("99");
    rig.options.removePorts({ 0 });

    rig.cycle.close();
    QCOMPARE(rig.file(), before);
    QCOMPARE(rig.options.ports(), (QStringList { "21", "23" }));
    QCOMPARE(rig.options.text(OptionsModel::Text::Sound2), QString("Intruder.wav"));
    QCOMPARE(rig.options.checkState(OptionsModel::Check::AutoStart), 1);
    QVERIFY(rig.options.isOn(OptionsModel::Choice::Logs));
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

void TestOptionsCycle::pagesAndHighlight()
{
    CycleRig rig({});
    const auto visible = [&rig] {
        QList<int> pages;
        for (int i = 0; i < rig.cycle.pageCount(); ++i)
            if (rig.cycle.isPageVisible(i))
                pages << i;
        return pages;
    };
    QCOMPARE(visible(), (QList<int> { 0, 1, 2, 3 }));
    rig.cycle.selectPage(2);
    QCOMPARE(visible(), QList<int> { 2 });
    rig.cycle.selectPage(7);
    QCOMPARE(visible(), QList<int> { 2 });

    rig.cycle.hoverLabel(1);
    rig.cycle.hoverLabel(3);
    QCOMPARE(rig.cycle.highlightedLabel(), 3);
    rig.cycle.labelNormal();
    QCOMPARE(rig.cycle.highlightedLabel(), int(OptionsCycle::NoLabel));

    rig.cycle.hoverLabel(0);
    rig.cycle.close();
    QCOMPARE(visible(), (QList<int> { 0, 1, 2, 3 }));
    QCOMPARE(rig.cycle.highlightedLabel(), int(OptionsCycle::NoLabel));
}

void TestOptionsCycle::pendingSoundIsWhatTheWatchPlays()
{
    CycleRig rig({});
    Connected probe;
    NetConnectionWatch watch(probe, rig.out, rig.options, rig.out);
    rig.options.setText(OptionsModel::Text::Sound0, "Edited.wav");
    watch.timNetcheckTimer();
    rig.cycle.close();
    QVERIFY(rig.out.log.contains("sound:Edited.wav"));
    QCOMPARE(rig.options.text(OptionsModel::Text::Sound0), QString("NetOn.wav"));
}

QTEST_GUILESS_MAIN(TestOptionsCycle)
#include "tst_OptionsCycle.moc"
