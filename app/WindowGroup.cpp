#include "WindowGroup.h"

#include "DisplaySession.h"
#include "Foundation.h"
#include "MonitorGroup.h"
#include "SessionBus.h"

#include <QAction>
#include <QGuiApplication>
#include <QListView>
#include <QPushButton>

WindowGroup::WindowGroup(Foundation& foundation, MonitorGroup& monitor)
    : m_window(foundation.status(), m_actions)
    , m_trayBackend(m_actions)
    , m_tray(m_trayBackend, m_window)
    , m_keyState(DisplaySession::current(), SessionBus::ifRunning())
    , m_hotkeys(m_keyState,
          HotkeyTargets { &m_window, &m_window, &monitor.monitoring(), {}, &foundation.status(),
              [&foundation] { foundation.status().clearMessages(); } })
    , m_about(m_window, m_hotkeys, foundation.settings())
    , m_help([&foundation] { return foundation.settings().settings().appPath; }, foundation.status(), &m_window)
    , m_lineMenu(*m_window.statusList(), monitor.blocker())
    // The Options dialog disables the monitor window while it holds edits of its own.
    , m_sourceActions(foundation.settings(), foundation.options(), monitor.blocker(),
          [this] { return !m_window.isEnabled(); })
    , m_history(foundation.settings(), m_sourceActions)
{
    m_window.setTray(&m_tray);
    m_window.setMinimizedReachable(DisplaySession::current() != DisplaySession::Kind::Wayland);
    monitor.setIconFlasher(m_tray);
    monitor.setNotificationClicked([this](const IpAddress& source) {
        m_window.restoreMonitor();
        if (!source.isNull())
            m_history.openAt(source);
    });
    // A double click on an intruder's lines: its history.
    connect(m_window.statusList(), &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        if (const IpAddress source = IntruderLineMenu::addressAt(*index.model(), index.row()); !source.isNull())
            m_history.openAt(source);
    });
    connect(&m_trayBackend, &QtTrayBackend::activated, &m_tray, &SystemTray::activated);
    connect(&m_window, &MainWindow::pointerMoved, &m_tray, &SystemTray::stopIconFlashing);
    connect(&m_window, &MainWindow::flatButtonClicked, this, [&monitor](int button) {
        if (button == MainWindow::StartButton)
            monitor.monitoring().toggleMonitoring();
    });
    connect(&monitor.monitoring(), &MonitoringSwitch::captionChanged, &m_window,
        [this](const QString& caption) { m_window.flatButton(MainWindow::StartButton)->setText(caption); });
    connectMenus(monitor);
    connect(&m_window, &MainWindow::exitRequested, this, &WindowGroup::exitRequested);
    // A session that logs out ends the program the same way, with status 0.
    connect(qGuiApp, &QGuiApplication::commitDataRequest, this, &WindowGroup::exitRequested);
}

void WindowGroup::connectMenus(MonitorGroup& monitor)
{
    connect(m_actions.restore, &QAction::triggered, &m_window, &MainWindow::restoreMonitor);
    connect(m_actions.exit, &QAction::triggered, this, &WindowGroup::exitRequested);
    connect(m_actions.log, &QAction::triggered, &m_help, &HelpCommands::openLog);
    connect(m_actions.history, &QAction::triggered, &m_history, &HistoryOpener::open);
    connect(m_actions.contents, &QAction::triggered, &m_help, &HelpCommands::openContents);
    connect(m_actions.testAlarm, &QAction::triggered, &monitor.selfTest(), &AlarmSelfTest::run);
    connect(m_actions.about, &QAction::triggered, &m_about, &AboutBoxOpener::open);
}
