#pragma once

#include <functional>

class HotkeyControl;
class MonitorWindowAccess;
class MonitoringState;
class MonitoringSwitch;
class NetworkWatch;
class OptionsDialog;
class ProtectionIndicator;
class SettingsManager;

// Who opened the options dialog: the Options button and F11 stop the hotkeys, View > Options does not.
enum class OptionsOpenedBy { OptionsButton, Hotkey, ViewMenu };

// Opens the options dialog and closes it again, and holds the rest of the program still while it is
// open. Opening closes the port listeners (monitoring stays on), shows the protection paused, shows
// the dialog without modality and disables the monitor window; the Options button and F11 also stop
// the hotkeys (the View menu leaves them running, so the function keys still work while the dialog
// is open). Every way of closing undoes that in one order; OK first stores every pending value.
class OptionsOpener
{
public:
    struct Targets
    {
        SettingsManager& settings;
        MonitoringSwitch& monitoring;
        const MonitoringState& monitoringState;
        MonitorWindowAccess& window;
        HotkeyControl& hotkeys;
        NetworkWatch& networkWatch; // its timer belongs to the dialog's lifetime
        ProtectionIndicator& protection;
    };

    OptionsOpener(OptionsDialog& dialog, Targets targets);

    void open(OptionsOpenedBy openedBy);

private:
    void close(bool save);

    OptionsDialog& m_dialog;
    Targets m_targets;
};
