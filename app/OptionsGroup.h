#pragma once

#include "AlarmOptions.h"
#include "OptionsCommands.h"
#include "OptionsDialog.h"
#include "OptionsOpener.h"

#include <QObject>

#include <functional>

class Foundation;
class MonitorGroup;
class ProtectionIndicator;
class WindowGroup;

// The options dialog with its working copy of the settings, and the ways of opening it: the
// Options button, View > Options and F11.
class OptionsGroup : public QObject
{
    Q_OBJECT

public:
    // reapplySettings: brings the running program in line with the stored settings after closing.
    // protection: paused while the dialog is open; after OK it reports what is left unguarded.
    OptionsGroup(Foundation& foundation, MonitorGroup& monitor, WindowGroup& window,
        ProtectionIndicator& protection, std::function<void()> reapplySettings);

    // Reads the sections the dialog edits beside the original keys, once first start wrote those.
    void load() { m_alarmOptions.load(); }

private:
    // What the dialog shows of the running program: the firewall's blocked addresses and a test push.
    void connectPages(MonitorGroup& monitor);

    AlarmOptions m_alarmOptions;
    OptionsCommands m_commands;
    OptionsDialog m_dialog;
    OptionsOpener m_opener;
};
