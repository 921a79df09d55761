#include "ProtectionIndicator.h"

#include "IntruderBlocker.h"
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

void ProtectionIndicator::setBlocker(const IntruderBlocker* blocker)
{
    m_blocker = blocker;
    if (blocker)
        connect(blocker, &IntruderBlocker::availabilityChanged, this, &ProtectionIndicator::blockingAnswered);
}

ProtectionState ProtectionIndicator::state() const
{
    if (!m_monitoring.isOn())
        return ProtectionState::stopped();
    if (m_paused)
        return ProtectionState::paused();
    return ProtectionState::opened(ProtectionState::survey(m_monitoring, m_blocker));
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
    m_reported = true;
    const ProtectionState now = state();
    if (ProtectionState::isReadyText(m_status.statusText()))
        m_status.setStatusText(now.readyText());
    const QStringList problems = now.problems(ProtectionState::Detail::PortsOnly);
    if (problems.isEmpty() && now.problems().isEmpty())
        return;
    // The watch and the blocker said their own lines when they failed; the remedy is said once.
    for (const QString& line : problems)
        m_status.addStatusLine(line);
    if (!now.remedy().isEmpty())
        m_status.addStatusLine(now.remedy());
    notifyProblems(now);
}

void ProtectionIndicator::blockingAnswered()
{
    refresh();
    if (!m_reported || m_paused)
        return;
    const ProtectionState now = state();
    if (ProtectionState::isReadyText(m_status.statusText()))
        m_status.setStatusText(now.readyText());
    if (m_blocker && m_blocker->availability() == IntruderBlocker::Availability::NeedsPrivileges)
        notifyProblems(now); // the same notification, updated
}

void ProtectionIndicator::notifyProblems(const ProtectionState& state)
{
    QStringList lines = state.problems();
    if (lines.isEmpty() || !m_notifications || !m_notifications->canNotify(NotificationKey))
        return;
    if (!state.remedy().isEmpty())
        lines << state.remedy();
    m_notifications->notify(NotificationKey, QStringLiteral("Partly guarded"), lines.join(QLatin1Char('\n')));
}

void ProtectionIndicator::refresh()
{
    if (m_tray)
        m_tray->showProtection(state(), m_monitoring.intrusions().allowedCount());
}
