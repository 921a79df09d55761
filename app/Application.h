#pragma once

#include "AboutBoxOpener.h"
#include "AlarmOptions.h"
#include "AlarmSelfTest.h"
#include "AlertActions.h"
#include "AppLifecycle.h"
#include "AutostartRegistration.h"
#include "DefaultRouteProbe.h"
#include "DesktopWallpaperChanger.h"
#include "EventOutputs.h"
#include "FreedesktopNotifications.h"
#include "HotkeyPoller.h"
#include "FrmOptions.h"
#include "GuiClipboard.h"
#include "HelpCommands.h"
#include "HelperPortBinder.h"
#include "IncidentNotifications.h"
#include "IniSettingsStore.h"
#include "LinuxChatCommandSender.h"
#include "MainWindow.h"
#include "MenuActions.h"
#include "MonitoringState.h"
#include "MonitoringSwitch.h"
#include "NetConnectionWatch.h"
#include "OptionsCommands.h"
#include "OptionsCycle.h"
#include "OptionsModel.h"
#include "OptionsRouting.h"
#include "PosixSystemLog.h"
#include "ProcessProgramLauncher.h"
#include "ProcessSoundPlayer.h"
#include "ProgramFolder.h"
#include "QtTrayBackend.h"
#include "SettingsManager.h"
#include "SignalWatcher.h"
#include "StatusDisplay.h"
#include "SystemTray.h"
#include "XInputKeyState.h"

#include <QObject>

#include <optional>

// The running program: builds every part, wires them together and runs the start-up sequence.
class Application : public QObject
{
    Q_OBJECT

public:
    struct Paths
    {
        QString settingsFile; // empty: the user's default store
        QString programFolder;
        QStringList assetDirs;
        QString bindHelper; // binds ports below 1024 for us; empty: none
    };

    explicit Application(const Paths& paths, QObject* parent = nullptr);
    ~Application() override;

    // Runs the start-up sequence and shows the window as start-up left it.
    void start();
    // Reads the "Events" and "Alarm" sections into the outputs and the intrusion handling. At
    // start-up a refused allow-list entry gets a status line; closing the options applies them again.
    void applySections(bool atStartup);
    // Mirrors the status display to standard output (no display to show the window on).
    void mirrorStatusToStdout();
    // Nobody can see the window (the offscreen platform): the status list draws nothing.
    void runWithoutDisplay();
    // The window a second start of the program brings forward.
    MonitorWindowAccess& monitorWindow() { return m_window; }
    // Records the program's exit and ends the event loop with the code.
    void quit(int exitCode);

    MonitoringSwitch& monitoring() { return m_monitoring; }
    EventOutputs& events() { return m_events; }
    const Settings& settings() const { return m_settings.settings(); }

private:
    AlertServices alertServices();
    void connectMenus();
    HotkeyTargets hotkeyTargets();
    void cmdFlatClick(int index);
    void endProcess();

    MonitoringState m_monitoringState;
    IniSettingsStore m_store;
    OptionsModel m_options;
    SettingsManager m_settings;
    StatusDisplay m_status;
    PosixSystemLog m_systemLog;
    EventOutputs m_events;
    ProgramFolder m_folder;
    ProcessProgramLauncher m_launcher;
    GuiClipboard m_clipboard;
    DesktopWallpaperChanger m_wallpaper;
    LinuxChatCommandSender m_chat;
    ProcessSoundPlayer m_soundPlayer;
    AlertActions m_alert;
    MenuActions m_actions;
    XInputKeyState m_keyState;
    HotkeyPoller m_hotkeys;
    HelperPortBinder m_portBinder;
    AutostartRegistration m_registration;
    DefaultRouteProbe m_connectionProbe;
    NetConnectionWatch m_networkWatch;
    MonitoringSwitch m_monitoring;
    FreedesktopNotifications m_desktopNotifications;
    IncidentNotifications m_incidentNotifications;
    AlarmSelfTest m_selfTest;
    MainWindow m_window;
    QtTrayBackend m_trayBackend;
    SystemTray m_tray;
    AboutBoxOpener m_about;
    HelpCommands m_help;
    OptionsRouting m_optionsRouting;
    AppLifecycle m_lifecycle;
    AlarmOptions m_alarmOptions;
    std::optional<EventSettings> m_appliedEvents;
    OptionsCycle m_optionsCycle;
    OptionsCommands m_optionsCommands;
    FrmOptions m_frmOptions;
    SignalWatcher m_termination;
};
