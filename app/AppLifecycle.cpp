#include "AppLifecycle.h"

#include "ProgramFolder.h"
#include "ProgramLauncher.h"
#include "SettingsManager.h"
#include "StatusReporter.h"

AppLifecycle::AppLifecycle(SettingsManager& settings, ProgramFolder& folder, StatusReporter& status,
    ProgramLauncher& launcher, const StartupTargets& targets, EndProcess endProcess)
    : m_settings(settings)
    , m_folder(folder)
    , m_status(status)
    , m_launcher(launcher)
    , m_targets(targets)
    , m_endProcess(std::move(endProcess))
{
}

void AppLifecycle::startUp()
{
    m_settings.firstStartup();
    m_settings.loadSettings();
    // The program folder becomes the working folder before the settings are applied, so that the
    // bare file names used at start-up (the start sound, a program to run) resolve in it too.
    for (const QString& problem : m_folder.prepare())
        m_status.addStatusLine(problem);
    m_settings.setAppPath(m_folder.appPath());
    applyStartupSettings();
    m_status.setStatusText(QStringLiteral("Ready."));
}

void AppLifecycle::applyStartupSettings()
{
    const Settings& s = m_settings.settings();

    if (s.hideMonitor.isOn())
        m_targets.window->toggleMonitorView();
    if (s.startMonitoring.isOn())
        m_targets.monitoring->toggleMonitoring();
    if (s.run.isOn())
        // A program that cannot be started is not reported: start-up goes on, as it always has.
        static_cast<void>(m_launcher.start(s.runFile));
    if (s.alwaysOnTop.isOn())
        m_targets.window->setAlwaysOnTop();
    if (s.minOnStartup.isOn())
        m_targets.window->minimize();
    if (s.useIconTray.isOn())
        m_targets.tray->trayIconAdd();
    if (s.useHotkeys.isOn())
        m_targets.hotkeys->load();
    if (s.autoScrollMonitor.isOn()) {
        m_targets.window->measureStatusList();
        m_targets.window->setAutoScrollEnabled(true);
    }
    if (s.loadAtLogin.isOn())
        report(m_targets.registration->addToStartup());
    if (s.soundsOn)
        m_targets.networkWatch->setEnabled(true);
    m_targets.window->startMinimizedWatch();
}

void AppLifecycle::reapplySettings()
{
    const Settings& s = m_settings.settings();

    if (s.alwaysOnTop.isOff())
        m_targets.window->clearAlwaysOnTop();
    else
        m_targets.window->setAlwaysOnTop();

    if (s.useIconTray.isOff())
        m_targets.tray->trayIconDelete();
    else
        m_targets.tray->trayIconAdd();

    if (s.useHotkeys.isOff())
        m_targets.hotkeys->unload();
    else
        m_targets.hotkeys->load();

    if (s.autoScrollMonitor.isOff()) {
        m_targets.window->setAutoScrollEnabled(false);
    } else {
        m_targets.window->measureStatusList();
        m_targets.window->setAutoScrollEnabled(true);
    }

    report(s.loadAtLogin.isOff() ? m_targets.registration->removeFromStartup()
                                 : m_targets.registration->addToStartup());

    if (!s.soundsOn) {
        m_targets.networkWatch->setEnabled(false);
        m_targets.networkWatch->resetNetState();
    } else {
        m_targets.networkWatch->setEnabled(true);
    }

    if (s.rps.isOff())
        m_targets.monitoring->unloadSentinel();

    m_targets.window->hideMinimizedMonitor();
}

void AppLifecycle::report(const QString& problem)
{
    if (!problem.isEmpty())
        m_status.addStatusLine(problem);
}

void AppLifecycle::exitProgram()
{
    m_targets.tray->trayIconDelete();
    m_endProcess();
}
