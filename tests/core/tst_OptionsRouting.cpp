#include "OptionsRouting.h"
#include "HotkeyControl.h"

#include <QtTest>

namespace {
class Journal final : public HotkeyControl, public MonitorWindowAccess, public OptionsDialogShower
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
    // The listeners close first; the hotkeys stop unless the View menu opened the options.
    void opening()
    {
        using By = OptionsOpenedBy;
        for (const auto& [openedBy, withDialog, calls] :
            { std::tuple { By::OptionsButton, true, "close, show dialog, disable, hotkeys unload" },
                { By::Hotkey, true, "close, show dialog, disable, hotkeys unload" },
                { By::ViewMenu, true, "close, show dialog, disable" },
                { By::OptionsButton, false, "close, disable, hotkeys unload" } }) {
            Journal journal;
            OptionsRouting routing([&journal] { journal.calls << "close"; }, journal, journal);
            if (withDialog)
                routing.setDialog(&journal);
            routing.openOptions(openedBy);
            QCOMPARE(journal.calls.join(", "), QString(calls));
        }
    }
};

QTEST_GUILESS_MAIN(TestOptionsRouting)
#include "tst_OptionsRouting.moc"
