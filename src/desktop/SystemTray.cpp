#include "SystemTray.h"

#include "DesktopSeams.h"
#include "ProtectionIcon.h"
#include "TrayBackend.h"

SystemTray::SystemTray(TrayBackend& backend, MonitorWindowAccess& window, QObject* parent)
    : QObject(parent)
    , m_backend(backend)
    , m_window(window)
    , m_programIcon(QStringLiteral(":/sentrel.png"))
{
    m_flashTimer.setInterval(1000);
    connect(&m_flashTimer, &QTimer::timeout, this, &SystemTray::flashTick);
}

SystemTray::Action SystemTray::decode(QSystemTrayIcon::ActivationReason reason, bool singleClickHost)
{
    switch (reason) {
    case QSystemTrayIcon::DoubleClick:
        return Action::Restore;
    case QSystemTrayIcon::Trigger:
        // On XEmbed trays a double click also starts with a Trigger, which must do nothing; hosts
        // without double clicks restore on the single click.
        return singleClickHost ? Action::Restore : Action::None;
    default:
        return Action::None;
    }
}

void SystemTray::trayIconAdd()
{
    // Shown even without a notification area: Qt embeds the icon when a tray host appears later
    // (panels often start after the session's autostart programs).
    m_backend.setBlank(false);
    m_backend.setIconVisible(true);
}

void SystemTray::trayIconDelete()
{
    m_backend.setIconVisible(false);
}

bool SystemTray::isShown() const
{
    return m_backend.isIconVisible() && m_backend.isTrayAvailable();
}

void SystemTray::showProtection(const ProtectionState& state, quint64 allowedCount)
{
    if (m_shownKind != state.kind()) {
        m_shownKind = state.kind();
        m_backend.setNormalImage(ProtectionIcon::image(m_programIcon, state.kind()));
    }
    m_backend.setToolTip(toolTip(state, allowedCount));
}

QString SystemTray::toolTip(const ProtectionState& state, quint64 allowedCount)
{
    QString tip = QStringLiteral("Sentrel\n") + state.summary();
    if (const QString remedy = state.remedy(); !remedy.isEmpty())
        tip += QLatin1Char('\n') + remedy;
    if (allowedCount > 0)
        tip += QStringLiteral("\n%1 allowed connection%2")
                   .arg(allowedCount)
                   .arg(QLatin1String(allowedCount == 1 ? "" : "s"));
    return tip;
}

void SystemTray::startFlashing()
{
    if (!m_flashTimer.isActive())
        m_flashTimer.start();
}

void SystemTray::stopIconFlashing()
{
    m_flashTimer.stop();
    m_backend.setBlank(false);
}

void SystemTray::flashTick()
{
    m_backend.setBlank(!m_flashPhase);
    m_flashPhase = !m_flashPhase;
}

void SystemTray::activated(QSystemTrayIcon::ActivationReason reason)
{
    if (decode(reason, m_backend.isSingleClickHost()) == Action::Restore)
        m_window.restoreMonitor();
    stopIconFlashing();
}
