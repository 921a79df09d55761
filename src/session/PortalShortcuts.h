#pragma once

#include "FunctionKeyState.h"

#include <QDBusConnection>
#include <QObject>
#include <QTimer>

#include <bitset>
#include <chrono>

class QDBusMessage;

// F9 to F12 through the desktop portal's global shortcuts, where a Wayland compositor keeps every
// other program's keys to itself. The desktop binds the four shortcuts (it may ask the user first)
// and announces each activation; a key counts as pressed from its activation until it is taken.
//
// Every portal call follows the portal's request pattern: the call returns a request object whose
// Response signal carries the answer. The answer is listened for on the path the portal will use
// before the call goes out, so it cannot slip past. Nothing waits: the binding as a whole is bounded
// by a timeout, after which a portal that has not answered counts as none.
class PortalShortcuts final : public QObject, public FunctionKeyState
{
    Q_OBJECT

public:
    enum class State { Unbound, Binding, Bound, NotOffered, Refused, NoAnswer };
    static constexpr std::chrono::milliseconds DefaultTimeout { 30000 };

    explicit PortalShortcuts(
        const QDBusConnection& bus, std::chrono::milliseconds timeout = DefaultTimeout, QObject* parent = nullptr);

    State state() const { return m_state; }
    // Creates the portal session and binds the four shortcuts, once.
    void bind();

    // Available until the portal has said no or has not answered in time.
    bool isAvailable() const override;
    // The first start binds; activations are noted from then on.
    void startWatching() override;
    void stopWatching() override;
    bool takePressed(Key key) override;

    // The identifier each key is bound under; the description the desktop shows is the key's line
    // of the hotkey message box.
    static QString shortcutId(Key key);

private slots:
    // QtDBus delivers bus signals to slots named by signature only.
    void onResponse(uint response, const QVariantMap& results, const QDBusMessage& message);
    void onActivated(const QDBusMessage& message);

private:
    enum class Step { CreateSession, BindShortcuts };

    void call(Step step, const QString& method, const QVariantList& arguments, QVariantMap options);
    void listenForResponse(const QString& path, bool on);
    void settle(State state);

    QDBusConnection m_bus;
    State m_state = State::Unbound;
    Step m_step = Step::CreateSession;
    QString m_requestPath; // the request whose Response is awaited
    QString m_session;
    QTimer m_deadline;
    int m_tokens = 0;
    bool m_watching = false;
    std::bitset<4> m_pressed;
};
