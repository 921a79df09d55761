#include "Application.h"

#include "Event.h"

#include <QAction>
#include <QGuiApplication>

#include <csignal>
#include <cstdio>

Application::Application(const Paths& paths, QObject* parent)
    : QObject(parent)
    , m_foundation(paths)
    , m_monitor(m_foundation, m_services, paths.bindHelper)
    , m_window(m_foundation, m_monitor)
    , m_lifecycle(m_foundation.settings(), m_foundation.folder(), m_foundation.status(), m_services.launcher(),
          startupTargets(), [this] { quit(0); })
    , m_options(m_foundation, m_monitor, m_window,
          [this] {
              m_lifecycle.reapplySettings();
              m_monitor.applySections(false);
          })
    , m_termination({ SIGINT, SIGTERM })
{
    const auto exitProgram = [this] { m_lifecycle.exitProgram(); };
    connect(m_window.actions().exit, &QAction::triggered, this, exitProgram);
    connect(&m_window.window(), &MainWindow::exitRequested, this, exitProgram);
    connect(&m_termination, &SignalWatcher::raised, this, exitProgram);
    // A session that logs out ends the program the same way, with status 0.
    connect(qGuiApp, &QGuiApplication::commitDataRequest, this, exitProgram);
}

Application::~Application() = default;

StartupTargets Application::startupTargets()
{
    return { &m_window.window(), &m_monitor.monitoring(), &m_window.tray(), &m_window.hotkeys(),
        &m_services.registration(), &m_monitor.networkWatch() };
}

void Application::start()
{
    m_foundation.events().record(
        Event::programStarted(QCoreApplication::applicationVersion(), m_foundation.folder().appPath()));
    m_lifecycle.formLoad();
    // After the first start has written the original keys, so the new section comes after them.
    m_monitor.applySections(true);
    m_options.load();
    m_window.window().showAsStartedUp();
}

void Application::mirrorStatusToStdout()
{
    m_foundation.status().setMirror(stdout);
}

void Application::runWithoutDisplay()
{
    m_foundation.status().setDisplayPresent(false);
    // The offscreen platform would still paint every change of the window into memory nobody
    // reads: the status text alone made that most of the work per intrusion.
    m_window.window().setUpdatesEnabled(false);
}

void Application::restoreMonitor()
{
    m_window.window().restoreMonitor();
}

void Application::quit(int exitCode)
{
    // Every way out (a signal, Exit in the window or the tray, the session ending) comes here:
    // the open incidents get their ended records before the outputs flush.
    m_monitor.endIncidents();
    m_foundation.events().record(Event::now(Event::Kind::ProgramExited));
    m_foundation.events().flush();
    std::fflush(stdout);
    QCoreApplication::exit(exitCode);
}
