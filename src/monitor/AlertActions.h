#pragma once

#include "AlertServices.h"
#include "IntruderLog.h"
#include "IntrusionObserver.h"
#include "ProgramLauncher.h"
#include "Throttle.h"

#include <QString>

class OptionsModel;
class SettingsManager;

// Runs the alert actions the user enabled, once per intrusion, in a fixed order: flash the tray
// icon, change the wallpaper, start the attack program, copy the intruder to the clipboard, play
// the intruder sound, write the log entry, send the chat command. Each action's condition is
// checked on its own and a failing action never stops the ones after it.
//
// A scan can bring thousands of intrusions a second. The log, the clipboard and the chat command
// are cheap and follow every intrusion. The attack program, the sound and the wallpaper each cost
// a child process, so they run at most once a second: one per connection would swamp the desktop.
// An intrusion whose incident has already raised its alarm runs only the flash and the log.
class AlertActions final : public IntrusionObserver
{
public:
    static constexpr std::chrono::milliseconds BurstInterval { 1000 };

    AlertActions(const SettingsManager& settings, const OptionsModel& options, const AlertServices& services,
        const Throttle::Clock& clock = &Throttle::steadyNow);

    void intrusion(const Intrusion& intrusion) override;

    // Where the log entries wait for the end of the event-loop pass; Purge goes through it.
    IntruderLog& intruderLog() { return m_log; }
    // The tray icon comes after the alert actions are built; until then nothing flashes.
    void setIconFlasher(IconFlasher* flasher) { m_services.iconFlasher = flasher; }

    static QString wallpaperFileName() { return QStringLiteral("SentrelBg.bmp"); }
    static QString clipboardText(const IntruderRecord& intruder);
    // What the attack program finds in its environment.
    static ProgramLauncher::Environment attackEnvironment(const IntruderRecord& intruder);
    static QString chatCommand(const IntruderRecord& intruder);

private:
    const SettingsManager& m_settings;
    const OptionsModel& m_options;
    AlertServices m_services;
    Throttle m_programThrottle;
    Throttle m_soundThrottle;
    Throttle m_wallpaperThrottle;
    IntruderLog m_log;
};
