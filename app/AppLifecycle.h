#pragma once

#include "StartupTargets.h"

#include <functional>

class ProgramFolder;
class ProgramLauncher;
class SettingsManager;
class StatusReporter;

// How the program comes up, re-applies its settings after the options dialog closes, and ends.
class AppLifecycle
{
public:
    using EndProcess = std::function<void()>;

    AppLifecycle(SettingsManager& settings, ProgramFolder& folder, StatusReporter& status,
        ProgramLauncher& launcher, const StartupTargets& targets, EndProcess endProcess);

    // The start-up sequence: first-start values, loading, the program folder, applying the
    // settings, and "Ready." in the status label. Whatever failed on the way is a status line.
    void startUp();

    // Applies the stored settings once at start-up; a flag that is not 1 skips its step.
    void applyStartupSettings();
    // Brings the running program in line with freshly reloaded settings.
    void reapplySettings();

    // The exit path: removes the tray icon and ends the program. Nothing is saved.
    void exitProgram();

private:
    // A failure an operation described; an empty description is success.
    void report(const QString& problem);

    SettingsManager& m_settings;
    ProgramFolder& m_folder;
    StatusReporter& m_status;
    ProgramLauncher& m_launcher;
    StartupTargets m_targets;
    EndProcess m_endProcess;
};
