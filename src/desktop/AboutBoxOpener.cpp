#include "AboutBoxOpener.h"

#include "AboutBox.h"
#include "DesktopSeams.h"
#include "SettingsManager.h"
#include "HotkeyControl.h"

AboutBoxOpener::AboutBoxOpener(
    MonitorWindowAccess& window, HotkeyControl& hotkeys, const SettingsManager& settings, QObject* parent)
    : QObject(parent)
    , m_window(window)
    , m_hotkeys(hotkeys)
    , m_settings(settings)
{
}

AboutBoxOpener::~AboutBoxOpener()
{
    delete m_box;
}

AboutBox* AboutBoxOpener::box() const
{
    return m_box;
}

void AboutBoxOpener::open()
{
    if (m_box) {
        m_box->raise();
        return;
    }
    // A window of its own (no parent): a disabled parent would disable the box too.
    m_box = new AboutBox;
    m_box->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_box, &QDialog::finished, this, &AboutBoxOpener::closed);
    m_box->show();
    m_window.setMonitorEnabled(false);
    m_hotkeys.unload();
}

void AboutBoxOpener::closed()
{
    m_window.setMonitorEnabled(true);
    if (m_settings.settings().useHotkeys.isOn())
        m_hotkeys.load();
}
