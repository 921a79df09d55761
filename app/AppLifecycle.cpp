#include "AppLifecycle.h"

#include "ProgramFolder.h"
#include "ProgramLauncher.h"
#include "SettingValue.h"
#include "SettingsManager.h"
#include "StatusReporter.h"

using SettingValue::isOff;
using SettingValue::isOn;
using SettingValue::isTrue;

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

void AppLifecycle::formLoad()
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

    if (isOn(s.hideMonitor))
        m_targets.window->toggleMonitorView();
    if (isOn(s.startMonitoring))
        m_targets.monitoring->toggleMonitoring();
    if (isOn(s.run))
        m_launcher.start(s.runFile); // a program that cannot be started is ignored
    if (isOn(s.alwaysOnTop))
        m_targets.window->setAlwaysOnTop();
    if (isOn(s.minOnStartup))
        m_targets.window->minimize();
    if (isOn(s.useIconTray))
        m_targets.tray->trayIconAdd();
    if (isOn(s.useHotkeys))
        m_targets.hotkeys->load();
    if (isOn(s.autoScrollMonitor)) {
        m_targets.window->measureStatusList();
        m_targets.window->setAutoScrollEnabled(true);
    }
    if (isOn(s.windowsStartup))
        report(m_targets.registration->addToStartup());
    if (isTrue(s.soundsOn))
        m_targets.networkWatch->setEnabled(true);
    m_targets.window->startMinimizedWatch();
}

void AppLifecycle::reapplySettings()
{
    const Settings& s = m_settings.settings();

    if (isOff(s.alwaysOnTop))
        m_targets.window->clearAlwaysOnTop();
    else
        m_targets.window->setAlwaysOnTop();

    if (isOff(s.useIconTray))
        m_targets.tray->trayIconDelete();
    else
        m_targets.tray->trayIconAdd();

    if (isOff(s.useHotkeys))
        m_targets.hotkeys->unload();
    else
        m_targets.hotkeys->load();

    if (isOff(s.autoScrollMonitor)) {
        m_targets.window->setAutoScrollEnabled(false);
    } else {
        m_targets.window->measureStatusList();
        m_targets.window->setAutoScrollEnabled(true);
    }

    report(isOff(s.windowsStartup) ? m_targets.registration->removeFromStartup()
                                   : m_targets.registration->addToStartup());

    if (!isTrue(s.soundsOn)) {
        m_targets.networkWatch->setEnabled(false);
        m_targets.networkWatch->resetNetState();
    } else {
        m_targets.networkWatch->setEnabled(true);
    }

    if (isOff(s.rps))
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
