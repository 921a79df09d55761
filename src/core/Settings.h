#pragma once

#include <QString>

// The setting values as read from the store, each kept as the text that was stored.
// Flags ("0"/"1") and switches ("True"/"False") are interpreted where they are used,
// through the helpers in SettingValue.h.
struct Settings
{
    // The program folder with a trailing separator: where "Log.txt" and the bare-named sounds and
    // bitmap live. Not stored; set once at start-up.
    QString appPath;

    // General
    QString hideMonitor;
    QString startMonitoring;
    QString run;
    QString runFile;
    QString logs;

    // Display
    QString alwaysOnTop;
    QString minOnStartup;
    QString useIconTray;
    QString useHotkeys;
    QString autoScrollMonitor;
    QString loadAtLogin;
    QString flashIcon;
    QString changeBackground;
    QString attackRun;
    QString attackRunFile;
    QString copyClipboard;

    // Sounds
    QString soundsOn;

    // Advance
    QString chatOn;
    QString chatService;
    QString rps;
};
