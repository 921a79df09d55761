#pragma once

#include "DesktopSeams.h"

#include <functional>

class HotkeyControl;

// Shows the options dialog; the dialog implements it. Loads the dialog and shows it without
// modality.
class OptionsDialogShower
{
public:
    virtual ~OptionsDialogShower() = default;
    virtual void showOptionsDialog() = 0;
};

// Opening the options dialog, whoever asks: the listeners close while the dialog is open, the
// monitor window takes no input, and the Options button and F11 also stop the hotkeys (the View
// menu leaves them running, so the function keys still work while the dialog is open).
class OptionsRouting final : public OptionsOpener
{
public:
    using ClosePortListeners = std::function<void()>;

    OptionsRouting(ClosePortListeners closePortListeners, HotkeyControl& hotkeys, MonitorWindowAccess& window);

    // Until a dialog is set, opening runs every other step and shows nothing.
    void setDialog(OptionsDialogShower* dialog) { m_dialog = dialog; }

    void openOptions(OptionsOpenedBy openedBy) override;

private:
    ClosePortListeners m_closePortListeners;
    HotkeyControl& m_hotkeys;
    MonitorWindowAccess& m_window;
    OptionsDialogShower* m_dialog = nullptr;
};
