#include "Application.h"

#include "DesktopProbe.h"
#include "Event.h"

#include <csignal>
#include <cstdio>

Application::Application(const Paths& paths, Display display, QObject* parent)
    : QObject(parent)
    , m_foundation(paths)
    , m_history(m_foundation)
    , m_monitor(m_foundation, m_services, paths.bindHelper, paths.watchHelper, paths.blockHelper)
    , m_window(display == Display::Window ? std::make_unique<WindowGroup>(m_foundation, m_monitor) : nullptr)
    , m_headless(m_window ? nullptr : std::make_unique<HeadlessDesktop>(m_foundation.status()))
    , m_protection(m_monitor.monitoring(), m_foundation.status(), m_window ? &m_window->tray() : nullptr,
          m_window ? &m_monitor.notifications() : nullptr)
    , m_lifecycle(m_foundation.settings(), m_foundation.folder(), m_foundation.status(), m_services.launcher(),
          startupTargets(), [this] { quit(0); })
    , m_options(m_window ? std::make_unique<OptionsGroup>(m_foundation, m_monitor, *m_window, m_protection)
                         : nullptr)
    , m_termination({ SIGINT, SIGTERM })
{
    m_protection.setBlocker(&m_monitor.blocker());
    // Every group takes the settings from the one notification: the window and the session first
    // (start-up has set those up already), then monitoring.
    connect(&m_foundation.settings(), &SettingsManager::applied, this, [this] {
        if (m_started)
            m_lifecycle.reapplySettings();
    });
    connect(&m_foundation.settings(), &SettingsManager::applied, &m_monitor, &MonitorGroup::apply);
    connect(&m_foundation.settings(), &SettingsManager::applied, &m_history, &HistoryGroup::apply);
    if (!paths.watchService.isEmpty())
        m_monitor.useWatchService(paths.watchService);
    connect(&m_termination, &SignalWatcher::raised, this, [this] { m_lifecycle.exitProgram(); });
    if (m_window)
        connect(m_window.get(), &WindowGroup::exitRequested, this, [this] { m_lifecycle.exitProgram(); });
    else
        m_foundation.status().keepNoLines();
}

Application::~Application() = default;

StartupTargets Application::startupTargets()
{
    if (m_window)
        return { &m_window->window(), &m_monitor.monitoring(), &m_window->tray(), &m_window->hotkeys(),
            &m_services.registration(), &m_monitor.networkWatch() };
    return { m_headless.get(), &m_monitor.monitoring(), m_headless.get(), &m_headless->hotkeys(),
        &m_services.registration(), &m_monitor.networkWatch() };
}

void Application::start()
{
    m_foundation.events().record(
        Event::programStarted(QCoreApplication::applicationVersion(), m_foundation.folder().appPath()));
    m_lifecycle.startUp();
    if (m_window && DisplaySession::current() == DisplaySession::Kind::Wayland) {
        const Settings& settings = m_foundation.settings().settings();
        for (const QString& line :
            DesktopProbe::waylandLimits(settings.alwaysOnTop.isOn(), settings.copyClipboard.isOn()))
            m_foundation.status().addStatusLine(line);
    }
    // After the settings reached monitoring: the UDP ports and blocking are set up there.
    m_foundation.settings().apply();
    m_protection.reportProblems();
    m_started = true;
    if (m_window)
        m_window->window().showAsStartedUp();
}

void Application::restoreMonitor()
{
    if (m_window)
        m_window->window().restoreMonitor();
}

void Application::quit(int exitCode)
{
    // Every way out (a signal, Exit in the window or the tray, the session ending) comes here:
    // the open incidents get their ended records before the outputs flush. A second way out while
    // the pushes finish (another Ctrl+C) leaves at once.
    if (m_monitor.isFinishingPushes()) {
        QCoreApplication::exit(exitCode);
        return;
    }
    m_monitor.endIncidents();
    m_foundation.events().record(Event::now(Event::Kind::ProgramExited));
    m_foundation.events().flush();
    std::fflush(stdout);
    m_monitor.finishPushes([exitCode] { QCoreApplication::exit(exitCode); });
}
