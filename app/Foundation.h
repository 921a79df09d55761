#pragma once

#include "EventOutputs.h"
#include "IniSettingsStore.h"
#include "MonitoringState.h"
#include "OptionsModel.h"
#include "PosixSystemLog.h"
#include "ProgramFolder.h"
#include "SettingsManager.h"
#include "StatusDisplay.h"

#include <QStringList>

// What every feature reads or reports to: the settings, whether monitoring is on, the status
// display, the event outputs and the program folder.
class Foundation
{
public:
    struct Paths
    {
        QString settingsFile; // empty: the user's default store
        QString programFolder;
        QStringList assetDirs;
    };

    explicit Foundation(const Paths& paths);

    OptionsModel& options() { return m_options; }
    SettingsManager& settings() { return m_settings; }
    MonitoringState& monitoringState() { return m_monitoringState; }
    StatusDisplay& status() { return m_status; }
    EventOutputs& events() { return m_events; }
    ProgramFolder& folder() { return m_folder; }

private:
    MonitoringState m_monitoringState;
    IniSettingsStore m_store;
    OptionsModel m_options;
    SettingsManager m_settings;
    StatusDisplay m_status;
    PosixSystemLog m_systemLog;
    EventOutputs m_events;
    ProgramFolder m_folder;
};
