#pragma once

// What the secondary windows (options dialog, About box), the hotkeys and the notifications ask of
// the monitor window and of the options cycle. The window and the dialog implement these; the
// callers know only the interfaces.

// The monitor window as the other windows see it.
class MonitorWindowAccess
{
public:
    virtual ~MonitorWindowAccess() = default;
    // Brings the window back from the tray or the task bar: visible, then normal, raised and active.
    virtual void restoreMonitor() = 0;
    // The monitor window takes no input while the options dialog or the About box is open.
    virtual void setMonitorEnabled(bool enabled) = 0;
};

// Who opened the options dialog: the Options button and F11 stop the hotkeys, View > Options does not.
enum class OptionsOpenedBy { OptionsButton, Hotkey, ViewMenu };

// Opens the options dialog: closes the port listeners, shows the dialog without modality and
// disables the monitor window.
class OptionsOpener
{
public:
    virtual ~OptionsOpener() = default;
    virtual void openOptions(OptionsOpenedBy openedBy) = 0;
};
