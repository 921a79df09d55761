#include "OptionsGroup.h"

#include "BlockingPage.h"
#include "Foundation.h"
#include "MonitorGroup.h"
#include "ProtectionIndicator.h"
#include "WindowGroup.h"

#include <QAction>

OptionsGroup::OptionsGroup(Foundation& foundation, MonitorGroup& monitor, WindowGroup& window,
    ProtectionIndicator& protection, std::function<void()> reapplySettings)
    : m_routing(
          [&monitor, &protection] {
              monitor.monitoring().closePortListeners();
              protection.setPaused(true);
          },
          window.hotkeys(), window.window())
    , m_cycle({ &foundation.settings(), std::move(reapplySettings), &window.window(), &monitor.networkWatch(),
                  &foundation.monitoringState(), &monitor.monitoring() },
          OptionsDialog::pageCount())
    , m_commands(foundation.options(),
          { [&window] { window.help().openLog(); },
              [&foundation, &monitor] { monitor.alert().intruderLog().purge(foundation.settings().settings().appPath); } })
    , m_dialog(foundation.options(), m_cycle, m_commands, &window.window())
{
    m_routing.setDialog(&m_dialog);
    if (auto* blocking = m_dialog.findChild<BlockingPage*>())
        blocking->setBlocker(&monitor.blocker());
    connect(&m_cycle, &OptionsCycle::closed, &protection, [&protection](bool saved) {
        protection.setPaused(false);
        if (saved)
            protection.reportProblems();
    });
    window.hotkeys().setOptionsOpener(&m_routing);
    connect(window.actions().options, &QAction::triggered, this,
        [this] { m_routing.openOptions(OptionsOpenedBy::ViewMenu); });
    connect(&window.window(), &MainWindow::flatButtonClicked, this, [this](int button) {
        if (button == MainWindow::OptionsButton)
            m_routing.openOptions(OptionsOpenedBy::OptionsButton);
    });
}
