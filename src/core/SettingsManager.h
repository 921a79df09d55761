#pragma once

#include "Settings.h"

class OptionsModel;
class SettingsStore;

// Moves setting values between the store, the Settings record and the options working copy:
// store to record and working copy on load, working copy to store on save.
class SettingsManager
{
public:
    SettingsManager(SettingsStore& store, OptionsModel& options);

    // Writes every first-start value unless the store carries the exact marker "Sentrel II".
    void firstStartup();
    // Rebuilds the working copy from the store and refills the record.
    void loadSettings();
    // Writes the working copy to the store. Leaves the record alone: callers load afterwards.
    void saveSettings();

    const Settings& settings() const { return m_settings; }
    void setAppPath(const QString& appPath) { m_settings.appPath = appPath; }

private:
    SettingsStore& m_store;
    OptionsModel& m_options;
    Settings m_settings;
};
