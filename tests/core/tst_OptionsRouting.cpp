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
    // The listeners close first; the hotkeys stop unless the View menu opened the options.
    void opening()
    {
        const struct
        {
            OptionsOpenedBy openedBy;
            bool withDialog;
            const char* calls;
        } cases[] = { { OptionsOpenedBy::OptionsButton, true, "close, show dialog, disable, hotkeys unload" },
            { OptionsOpenedBy::Hotkey, true, "close, show dialog, disable, hotkeys unload" },
            { OptionsOpenedBy::ViewMenu, true, "close, show dialog, disable" },
            { OptionsOpenedBy::OptionsButton, false, "close, disable, hotkeys unload" } };
        for (const auto& c : cases) {
            Journal journal;
            OptionsRouting routing([&journal] { journal.calls << "close"; }, journal, journal);
            if (c.withDialog)
                routing.setDialog(&journal);
            routing.openOptions(c.openedBy);
            QCOMPARE(journal.calls.join(", "), QString(c.calls));
        }
    }
};

QTEST_GUILESS_MAIN(TestOptionsRouting)
#include "tst_OptionsRouting.moc"
