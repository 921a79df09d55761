#include "OptionsRouting.h"

#include "HotkeyControl.h"

OptionsRouting::OptionsRouting(
    ClosePortListeners closePortListeners, HotkeyControl& hotkeys, MonitorWindowAccess& window)
    : m_closePortListeners(std::move(closePortListeners))
    , m_hotkeys(hotkeys)
    , m_window(window)
{
}

void OptionsRouting::openOptions(OptionsOpenedBy openedBy)
{
    m_closePortListeners();
    if (m_dialog)
        m_dialog->showOptionsDialog();
    m_window.setMonitorEnabled(false);
    if (openedBy != OptionsOpenedBy::ViewMenu)
        m_hotkeys.unload();
}
