#pragma once

#include <QString>
#include <QStringList>

#include <array>

// A check box as stored: "0" unchecked, "1" checked, "2" grayed. The store is a file a user may
// edit: another number is kept as read and counts as neither on nor off, and text that is not a
// decimal number reads as 0.
class Flag
{
public:
    constexpr Flag(int value = 0)
        : m_value(value)
    {
    }

    constexpr int value() const { return m_value; }
    constexpr bool isOn() const { return m_value == 1; }
    constexpr bool isOff() const { return m_value == 0; }
    // What a check box shows for it: a number outside the three states shows unchecked.
    constexpr Flag checkState() const { return m_value >= 0 && m_value <= 2 ? *this : Flag(0); }
    bool operator==(const Flag&) const = default;

private:
    int m_value;
};

// The values of the original store sections, parsed once when they are loaded.
struct Settings
{
    // The program folder with a trailing separator: where "Log.txt" and the bare-named sounds and
    // bitmap live. Not stored; set once at start-up.
    QString appPath;

    // General
    Flag hideMonitor;
    Flag startMonitoring;
    Flag run;
    QString runFile;
    bool logs = false;

    // Display
    Flag alwaysOnTop;
    Flag minOnStartup;
    Flag useIconTray;
    Flag useHotkeys;
    Flag autoScrollMonitor;
    Flag loadAtLogin;
    Flag flashIcon;
    Flag changeBackground;
    Flag attackRun;
    QString attackRunFile;
    Flag copyClipboard;

    // Sounds
    bool soundsOn = false;
    QString netConnectedSound;
    QString netDisconnectedSound;
    QString intruderSound;
    QString startSound;

    // Ports: the entries as stored, valid or not.
    QStringList ports;

    // Advance
    Flag chatOn;
    QString chatService;
    Flag rps;

    // The four sound files in the order of their store keys "0" to "3".
    static constexpr std::array<QString Settings::*, 4> SoundFiles { &Settings::netConnectedSound,
        &Settings::netDisconnectedSound, &Settings::intruderSound, &Settings::startSound };
};
