#include "Application.h"

#include "AlarmSettings.h"
#include "Event.h"
#include "EventSettings.h"
#include "SettingsKeys.h"

#include <QAction>
#include <QApplication>
#include <QPushButton>

#include <csignal>
#include <cstdio>

namespace {
IniSettingsStore openStore(const QString& file)
{
    return file.isEmpty() ? IniSettingsStore(QString::fromLatin1(SettingsKeys::Application))
                          : IniSettingsStore::atPath(file);
}
} // namespace

Application::Application(const Paths& paths, QObject* parent)
    : QObject(parent)
    , m_store(openStore(paths.settingsFile))
    , m_settings(m_store, m_options)
    , m_status(m_monitoringState)
    , m_events(m_status, m_systemLog)
    , m_folder(paths.programFolder, paths.assetDirs)
    , m_alert(m_settings, m_options, alertServices())
    , m_hotkeys(m_keyState, hotkeyTargets())
    , m_portBinder(paths.bindHelper)
    , m_registration(AutostartEntry(QStringLiteral("sentrel")))
    , m_networkWatch(m_connectionProbe, m_soundPlayer, m_options, m_status)
    , m_monitoring(m_status, m_monitoringState, m_options, m_settings, m_soundPlayer, m_alert, m_events)
    , m_desktopNotifications([this](quint64) { m_window.restoreMonitor(); })
    , m_incidentNotifications(m_desktopNotifications)
    , m_selfTest(m_monitoring, m_status)
    , m_window(m_status, m_actions)
    , m_trayBackend(m_actions)
    , m_tray(m_trayBackend, m_window)
    , m_about(m_window, m_hotkeys, m_settings)
    , m_help([this] { return m_settings.settings().appPath; }, &m_window)
    , m_optionsRouting([this] { m_monitoring.closePortListeners(); }, m_hotkeys, m_window)
    , m_lifecycle(m_settings, m_folder, m_status, m_launcher,
          StartupTargets { &m_window, &m_monitoring, &m_tray, &m_hotkeys, &m_registration, &m_networkWatch },
          [this] { endProcess(); })
    , m_alarmOptions(m_store)
    , m_optionsCycle({ &m_settings,
                         [this] {
                             m_lifecycle.reapplySettings();
                             applySections(false);
                         },
                         &m_window, &m_networkWatch, &m_monitoringState, &m_monitoring, &m_alarmOptions },
          FrmOptions::pageCount())
    , m_optionsCommands(m_options,
          { [this] { m_help.openLog(); },
              [this] { m_alert.intruderLog().purge(m_settings.settings().appPath); } })
    , m_frmOptions(m_options, m_optionsCycle, m_optionsCommands, m_alarmOptions, &m_window)
    , m_termination({ SIGINT, SIGTERM })
{
    m_monitoring.setPrivilegedBinder(&m_portBinder);
    m_alert.intruderLog().reportLossesTo(&m_status);
    m_monitoring.intrusions().setObserver(&m_incidentNotifications);
    m_window.setTray(&m_tray);
    m_optionsRouting.setDialog(&m_frmOptions);
    connect(&m_trayBackend, &QtTrayBackend::activated, &m_tray, &SystemTray::activated);
    connect(&m_window, &MainWindow::pointerMoved, &m_tray, &SystemTray::stopIconFlashing);
    connectMenus();
    connect(&m_window, &MainWindow::flatButtonClicked, this, &Application::cmdFlatClick);
    connect(&m_monitoring, &MonitoringSwitch::captionChanged, &m_window,
        [this](const QString& caption) { m_window.flatButton(MainWindow::StartButton)->setText(caption); });
    connect(&m_networkWatch, &NetConnectionWatch::connectionChanged, this,
        [this](bool connected) { m_events.record(Event::networkChanged(connected)); });
    connect(&m_window, &MainWindow::exitRequested, this, [this] { m_lifecycle.exitProgram(); });
    connect(&m_termination, &SignalWatcher::raised, this, [this] { m_lifecycle.exitProgram(); });
    // A session that logs out ends the program the same way, with status 0.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this] { m_lifecycle.exitProgram(); });
}

void Application::connectMenus()
{
    connect(m_actions.restore, &QAction::triggered, &m_window, &MainWindow::restoreMonitor);
    connect(m_actions.exit, &QAction::triggered, this, [this] { m_lifecycle.exitProgram(); });
    connect(m_actions.log, &QAction::triggered, &m_help, &HelpCommands::openLog);
    connect(m_actions.options, &QAction::triggered, this,
        [this] { m_optionsRouting.openOptions(OptionsOpenedBy::ViewMenu); });
    connect(m_actions.contents, &QAction::triggered, &m_help, &HelpCommands::openContents);
    connect(m_actions.testAlarm, &QAction::triggered, &m_selfTest, &AlarmSelfTest::run);
    connect(m_actions.about, &QAction::triggered, &m_about, &AboutBoxOpener::open);
}

Application::~Application() = default;

AlertServices Application::alertServices()
{
    AlertServices services;
    services.iconFlasher = &m_tray;
    services.wallpaper = &m_wallpaper;
    services.launcher = &m_launcher;
    services.clipboard = &m_clipboard;
    services.soundPlayer = &m_soundPlayer;
    services.chat = &m_chat;
    return services;
}

HotkeyTargets Application::hotkeyTargets()
{
    return HotkeyTargets { &m_window, &m_window, &m_monitoring, &m_optionsRouting, &m_status,
        [this] { m_status.clearMessages(); } };
}

void Application::start()
{
    m_events.record(Event::programStarted(QCoreApplication::applicationVersion(), m_folder.appPath()));
    m_lifecycle.formLoad();
    // After the first start has written the original keys, so the new section comes after them.
    applySections(true);
    m_alarmOptions.load();
    m_window.showAsStartedUp();
}

void Application::applySections(bool atStartup)
{
    // The outputs reopen only when their settings changed: a Cancel must not cut a log file.
    const EventSettings events = EventSettings::load(m_store);
    if (m_appliedEvents != events) {
        m_events.configure(events, m_settings.settings().appPath);
        m_appliedEvents = events;
    }
    const AlarmSettings alarm = AlarmSettings::load(m_store);
    m_incidentNotifications.setEnabled(alarm.notifications);
    const QList<AllowList::Refusal> refused = m_monitoring.intrusions().configure(alarm);
    if (atStartup && !refused.isEmpty())
        m_status.addStatusLine(AllowList::refusalLine(refused));
}

void Application::mirrorStatusToStdout()
{
    m_status.setMirror(stdout);
}

void Application::runWithoutDisplay()
{
    m_status.setDisplayPresent(false);
    // The offscreen platform would still paint every change of the window into memory nobody
    // reads: the status text alone made that most of the work per intrusion.
    m_window.setUpdatesEnabled(false);
}

void Application::cmdFlatClick(int index)
{
    switch (index) {
    case MainWindow::StartButton:
        m_monitoring.toggleMonitoring();
        break;
    case MainWindow::OptionsButton:
        m_optionsRouting.openOptions(OptionsOpenedBy::OptionsButton);
        break;
    default:
        break;
    }
}

void Application::endProcess()
{
    quit(0);
}

void Application::quit(int exitCode)
{
    // Every way out (a signal, Exit in the window or the tray, the session ending) comes here:
    // the open incidents get their ended records before the outputs flush.
    m_monitoring.intrusions().endIncidents();
    m_events.record(Event::now(Event::Kind::ProgramExited));
    m_events.flush();
    std::fflush(stdout);
    QCoreApplication::exit(exitCode);
}
