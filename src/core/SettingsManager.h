#pragma once

#include "Settings.h"

class OptionsModel;
class SettingsStore;

// Moves setting values between the store, the Settings record and the options working copy:
// the store's text is parsed once on load into the record and the working copy, and the working
// copy is written back as text on save.
class SettingsManager
{
public:
    SettingsManager(SettingsStore& store, OptionsModel& options);

    // Writes every first-start value unless the store carries the exact marker "Sentrel II".
    void firstStartup();
    // Parses the store into the record and makes the working copy the same values.
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
