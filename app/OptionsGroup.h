#pragma once

#include "OptionsCommands.h"
#include "OptionsCycle.h"
#include "OptionsDialog.h"
#include "OptionsRouting.h"

#include <QObject>

#include <functional>

class Foundation;
class MonitorGroup;
class ProtectionIndicator;
class WindowGroup;

// The options dialog with its working copy of the settings, the rules of its cycle (open, OK,
// close) and the ways of opening it: the Options button, View > Options and F11.
class OptionsGroup : public QObject
{
    Q_OBJECT

public:
    // reapplySettings: brings the running program in line with the stored settings after closing.
    // protection: paused while the dialog is open; after OK it reports what is left unguarded.
    OptionsGroup(Foundation& foundation, MonitorGroup& monitor, WindowGroup& window,
        ProtectionIndicator& protection, std::function<void()> reapplySettings);

private:
    OptionsRouting m_routing;
    OptionsCycle m_cycle;
    OptionsCommands m_commands;
    OptionsDialog m_dialog;
};
