#include "OptionsOpener.h"

#include "DesktopSeams.h"
#include "HotkeyControl.h"
#include "MonitoringState.h"
#include "MonitoringSwitch.h"
#include "NetworkWatch.h"
#include "OptionsDialog.h"
#include "ProtectionIndicator.h"
#include "SettingsManager.h"

OptionsOpener::OptionsOpener(OptionsDialog& dialog, Targets targets)
    : m_dialog(dialog)
    , m_targets(std::move(targets))
{
    QObject::connect(&dialog, &OptionsDialog::closeRequested, &dialog, [this](bool save) { close(save); });
}

void OptionsOpener::open(OptionsOpenedBy openedBy)
{
    m_targets.monitoring.closePortListeners();
    m_targets.protection.setPaused(true);
    m_dialog.showOptionsDialog();
    m_targets.window.setMonitorEnabled(false);
    if (openedBy != OptionsOpenedBy::ViewMenu)
        m_targets.hotkeys.unload();
}

void OptionsOpener::close(bool save)
{
    if (save)
        m_targets.settings.saveSettings();
    // The dialog as if rebuilt: its network watch timer stops with it, so that only re-applying
    // the settings starts it again, a full interval later; loading the settings drops every
    // pending edit and refills the port list from the store alone.
    m_targets.networkWatch.setEnabled(false);
    m_dialog.resetPages();
    m_targets.settings.loadSettings();
    // Every group brings itself in line with the reloaded settings.
    m_targets.settings.apply();
    m_targets.window.setMonitorEnabled(true);
    m_dialog.hide();

    // Opening closed the listeners but left monitoring on; the sentinel comes back only with them.
    if (m_targets.monitoringState.isActive()) {
        m_targets.monitoring.openPortListeners();
        if (m_targets.settings.settings().rps.isOn())
            m_targets.monitoring.loadSentinel();
    }
    m_targets.protection.setPaused(false);
    if (save)
        m_targets.protection.reportProblems();
}
