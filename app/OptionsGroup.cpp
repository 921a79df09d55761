#include "OptionsGroup.h"

#include "BlockingPage.h"
#include "Foundation.h"
#include "MonitorGroup.h"
#include "PushPage.h"
#include "WindowGroup.h"

#include <QAction>

OptionsGroup::OptionsGroup(Foundation& foundation, MonitorGroup& monitor, WindowGroup& window,
    ProtectionIndicator& protection)
    : m_commands(foundation.options(),
          { [&window] { window.help().openLog(); },
              [&foundation, &monitor] {
                  monitor.alert().intruderLog().purge(foundation.settings().settings().appPath);
              } })
    , m_dialog(foundation.options(), m_commands, &window.window())
    , m_opener(m_dialog,
          { foundation.settings(), monitor.monitoring(), foundation.monitoringState(),
              window.window(), window.hotkeys(), monitor.networkWatch(), protection })
{
    connectPages(monitor);
    window.hotkeys().setOpenOptions([this] { m_opener.open(OptionsOpenedBy::Hotkey); });
    connect(window.actions().options, &QAction::triggered, this,
        [this] { m_opener.open(OptionsOpenedBy::ViewMenu); });
    connect(&window.window(), &MainWindow::flatButtonClicked, this, [this](int button) {
        if (button == MainWindow::OptionsButton)
            m_opener.open(OptionsOpenedBy::OptionsButton);
    });
}

void OptionsGroup::connectPages(MonitorGroup& monitor)
{
    IntruderBlocker& blocker = monitor.blocker();
    const auto entries = [&blocker] {
        QList<BlockingPage::Blocked> shown;
        for (const IntruderBlocker::Entry& entry : blocker.entries())
            shown.append({ entry.address.toString(), IntruderBlocker::secondsLeft(entry), entry.attempts });
        return shown;
    };
    auto* blocking = m_dialog.findChild<BlockingPage*>();
    blocking->setBlockedList(
        { entries, [&blocker](const QString& address) {
                (void)blocker.unblock(IpAddress::parse(address).value_or(IpAddress()));
            },
            [&blocker] { blocker.refresh(); } });
    connect(&blocker, &IntruderBlocker::changed, blocking, &BlockingPage::showBlocked);
    m_dialog.findChild<PushPage*>()->setTestPush(
        std::bind_front(&PushDelivery::sendTest, &monitor.pushDelivery()));
}
