#include "OptionsRouting.h"
#include "StartupTargets.h"

#include <QtTest>

namespace {
class Journal final : public HotkeyPoller, public MonitorWindowAccess, public OptionsDialogShower
{
public:
    // clang-format off
    void load() override { calls << "hotkeys load"; }
    void unload() override { calls << "hotkeys unload"; }
    void restoreMonitor() override { calls << "restore"; }
    void setMonitorEnabled(bool on) override { calls << (on ? "enable" : "disable"); }
    void showOptionsDialog() override { calls << "show dialog"; }
    // clang-format on
    QStringList calls;
};
} // namespace

class TestOptionsRouting : public QObject
{
    Q_OBJECT

private slots:
    void opening_data();
    void opening();
};

void TestOptionsRouting::opening_data()
{
    QTest::addColumn<OptionsOpenedBy>("openedBy");
    QTest::addColumn<bool>("withDialog");
    QTest::addColumn<QStringList>("expected");

    const QStringList closeShowDisable { "close listeners", "show dialog", "disable" };
    QTest::newRow("button") << OptionsOpenedBy::OptionsButton << true
                            << closeShowDisable + QStringList { "hotkeys unload" };
    QTest::newRow("F11") << OptionsOpenedBy::Hotkey << true
                         << closeShowDisable + QStringList { "hotkeys unload" };
    QTest::newRow("view menu keeps the hotkeys") << OptionsOpenedBy::ViewMenu << true << closeShowDisable;
    QTest::newRow("no dialog yet") << OptionsOpenedBy::OptionsButton << false
                                   << QStringList { "close listeners", "disable", "hotkeys unload" };
}

void TestOptionsRouting::opening()
{
    QFETCH(OptionsOpenedBy, openedBy);
    QFETCH(bool, withDialog);
    QFETCH(QStringList, expected);

    Journal journal;
    OptionsRouting routing([&journal] { journal.calls << "close listeners"; }, journal, journal);
    if (withDialog)
        routing.setDialog(&journal);
    routing.openOptions(openedBy);
    QCOMPARE(journal.calls, expected);
}

QTEST_GUILESS_MAIN(TestOptionsRouting)
#include "tst_OptionsRouting.moc"
