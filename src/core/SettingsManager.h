#pragma once

#include "Settings.h"

#include <QObject>

class OptionsModel;
class SettingsStore;

// Moves setting values between the store, the Settings record and the options working copy:
// the store's text is parsed once on load into the record and the working copy, and the working
// copy is written back as text on save. Whoever runs on the settings takes them from applied().
class SettingsManager : public QObject
{
    Q_OBJECT

public:
    SettingsManager(SettingsStore& store, OptionsModel& options);

    // Writes every first-start value of the original sections unless the store carries the exact
    // marker "Sentrel II".
    void firstStartup();
    // Parses the store into the record and makes the working copy the same values. A later
    // section's missing keys are written with their first-start values first.
    void loadSettings();
    // Writes the working copy to the store in one pass. Leaves the record alone: callers load
    // afterwards.
    void saveSettings();
    // Hands the loaded record to everyone who runs on it: at start-up and after the options close.
    void apply() { emit applied(m_settings); }

    const Settings& settings() const { return m_settings; }
    void setAppPath(const QString& appPath) { m_settings.appPath = appPath; }

signals:
    void applied(const Settings& settings);

private:
    SettingsStore& m_store;
    OptionsModel& m_options;
    Settings m_settings;
};
