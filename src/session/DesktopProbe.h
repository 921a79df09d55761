#pragma once

#include "DisplaySession.h"

#include <QDBusConnection>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <chrono>
#include <optional>

class QDBusMessage;

// What this session offers the program's desktop features, one line per capability, for the
// start-up check. The session bus is asked without waiting; a bus that does not answer within
// Timeout counts as offering nothing more.
class DesktopProbe final : public QObject
{
    Q_OBJECT

public:
    struct Facts
    {
        DisplaySession::Kind display = DisplaySession::Kind::None;
        bool sessionBus = false;
        bool xembedTray = false; // an X11 tray host holds the tray selection
        bool x11Keys = false; // the X server has XInput 2
        bool trayWatcher = false; // a StatusNotifierItem watcher on the session bus
        bool notificationServer = false;
        bool shortcutsPortal = false;
        bool wallpaperPortal = false;
        bool feh = false;
        QString desktop; // XDG_CURRENT_DESKTOP
    };

    static constexpr std::chrono::milliseconds Timeout { 2000 };
    // Shown once on a Wayland desktop: what the compositor keeps from every program, short enough
    // for the status list; the alert actions only where the user has them on.
    static QStringList waylandLimits(bool alwaysOnTop, bool copyClipboard);

    explicit DesktopProbe(QObject* parent = nullptr);

    // Reads what the display tells at once, then asks the session bus.
    void start();
    bool isFinished() const { return m_finished; }
    const Facts& facts() const { return m_facts; }

    static QStringList describe(const Facts& facts);

signals:
    void finished();

private:
    void ask(const QDBusMessage& message, std::function<void(const QDBusMessage&)> answered);
    void answered();

    Facts m_facts;
    std::optional<QDBusConnection> m_bus;
    QTimer m_timeout;
    int m_waiting = 0;
    bool m_finished = false;
};
