#include "ProtectionIndicator.h"

#include "MonitoringSwitch.h"
#include "NotificationService.h"
#include "StatusDisplay.h"
#include "SystemTray.h"

ProtectionIndicator::ProtectionIndicator(MonitoringSwitch& monitoring, StatusDisplay& status,
    SystemTray* tray, NotificationService* notifications, QObject* parent)
    : QObject(parent)
    , m_monitoring(monitoring)
    , m_status(status)
    , m_tray(tray)
    , m_notifications(notifications)
{
    if (!m_tray)
        return;
    connect(&monitoring, &MonitoringSwitch::captionChanged, this, &ProtectionIndicator::refresh);
    // The allow list's count has no signal of its own; a tooltip read once a second is fresh enough.
    m_tick.setInterval(1000);
    connect(&m_tick, &QTimer::timeout, this, &ProtectionIndicator::refresh);
    m_tick.start();
    refresh();
}

ProtectionState ProtectionIndicator::state() const
{
    if (!m_monitoring.isOn())
        return ProtectionState::stopped();
    if (m_paused)
        return ProtectionState::paused();
    return ProtectionState::opened(m_monitoring.openedEntryCount(), m_monitoring.unguarded());
}

void ProtectionIndicator::setPaused(bool paused)
{
    if (paused == m_paused)
        return;
    m_paused = paused;
    if (m_monitoring.isOn()) {
        if (paused) {
            m_textBeforePause = m_status.statusText();
            m_status.setStatusText(pausedText());
        } else if (m_status.statusText() == pausedText()) {
            m_status.setStatusText(m_textBeforePause); // unless something newer was said meanwhile
        }
    }
    refresh();
}

void ProtectionIndicator::reportProblems()
{
    const QString problem = state().problem();
    if (problem.isEmpty())
        return;
    m_status.addStatusLine(problem);
    if (m_notifications && m_notifications->canNotify(NotificationKey))
        m_notifications->notify(NotificationKey, QStringLiteral("Ports unguarded"), problem);
}

void ProtectionIndicator::refresh()
{
    if (m_tray)
        m_tray->showProtection(state(), m_monitoring.intrusions().allowedCount());
}
