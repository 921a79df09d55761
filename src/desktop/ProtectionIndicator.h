#pragma once

#include "ProtectionState.h"

#include <QObject>
#include <QTimer>

class IntruderBlocker;
class MonitoringSwitch;
class NotificationService;
class StatusDisplay;
class SystemTray;

// Keeps the protection state in view: the tray icon and tooltip follow the monitoring switch, the
// blocker and the options dialog, and after start-up and after OK the status label, status lines
// and one notification say which guards could not be set and why, and how to get them. While the
// options dialog has the ports closed, the status label says so and afterwards shows again what
// it showed before.
class ProtectionIndicator : public QObject
{
    Q_OBJECT

public:
    // The notification's key, apart from every incident's.
    static constexpr quint64 NotificationKey = ~quint64(0);
    static QString pausedText() { return QStringLiteral("Paused while Options is open."); }

    // Without a tray (no display) only the status line is given; without notifications no pop-up.
    ProtectionIndicator(MonitoringSwitch& monitoring, StatusDisplay& status, SystemTray* tray,
        NotificationService* notifications, QObject* parent = nullptr);

    // What blocks intruders, counted while "Block Intruders" is on.
    void setBlocker(const IntruderBlocker* blocker);

    ProtectionState state() const;
    // The options dialog opened (true) or closed (false; the listeners are open again by then).
    void setPaused(bool paused);
    // The status label's caption after start-up; the status lines and the notification, when some
    // guard is missing.
    void reportProblems();
    // Shows the state in the tray now; also every second, for the allowed count.
    void refresh();

private:
    // The helper answered late: the tooltip, the label and the notification catch up.
    void blockingAnswered();
    void notifyProblems(const ProtectionState& state);

    MonitoringSwitch& m_monitoring;
    StatusDisplay& m_status;
    SystemTray* m_tray;
    NotificationService* m_notifications;
    const IntruderBlocker* m_blocker = nullptr;
    bool m_reported = false;
    QTimer m_tick;
    bool m_paused = false;
    QString m_textBeforePause;
};
