#pragma once

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
    // protection: paused while the dialog is open; after OK it reports what is left unguarded.
    OptionsGroup(Foundation& foundation, MonitorGroup& monitor, WindowGroup& window,
        ProtectionIndicator& protection);

private:
    // What the dialog shows of the running program: the firewall's blocked addresses and a test push.
    void connectPages(MonitorGroup& monitor);

    OptionsCommands m_commands;
    OptionsDialog m_dialog;
    OptionsOpener m_opener;
};
