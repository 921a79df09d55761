#pragma once

#include "NotificationService.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QTimer>

#include <functional>

class QDBusPendingCallWatcher;
class QDBusServiceWatcher;

// Notifications through the session bus's notification server. Every call is asynchronous: the
// window never waits on the bus. An update to a key whose notification is still being created,
// or that was updated less than MinUpdateInterval ago, waits and goes out as one, so a burst of
// thousands of connections costs the desktop a handful of redraws.
//
// At most MaxInFlight calls wait for the server at once, each for CallTimeout at most: a server
// that never answers holds that many, not one per notification. Updates beyond that wait, each
// key's latest text once, and go out as replies free the slots. A timed-out call counts as no
// server.
//
// Without a bus or a server nothing is shown and nothing is said; the next try comes with a later
// notification after RetryInterval, so a server that starts later is found.
//
// A server id is known only while its notification is open: it is forgotten when the server closes
// it, and all are when another server takes the name (a restarted server counts its ids anew), so
// an action or an update never reaches a notification other than the one it was meant for. Only
// the server's own signals count.
class FreedesktopNotifications final : public QObject, public NotificationService
{
    Q_OBJECT

public:
    static constexpr int MinUpdateInterval = 500; // ms
    static constexpr int RetryInterval = 60000; // ms
    static constexpr int MaxInFlight = 4;
    static constexpr int CallTimeout = 5000; // ms; the bus's own default is 25 s

    // activated: a notification's "Show" action (or a click on it), with the key it was shown for.
    explicit FreedesktopNotifications(std::function<void(quint64 key)> activated, QObject* parent = nullptr);

    void notify(quint64 key, const QString& summary, const QString& body) override;
    // Without a bus nothing is shown; the bus is looked for again after RetryInterval.
    bool canNotify(quint64 key) override { return m_shown.contains(key) || connectBus(); }
    bool isOpen(quint64 key) const override { return m_shown.contains(key); }
    // The buttons beyond "Show" on a key's notification, as action names and labels in turn
    // ({ "block", "Block for 1 hour" }), asked each time it is sent. invoked gets the key and the
    // name; only a name last sent with that notification counts.
    void setExtraActions(std::function<QStringList(quint64 key)> offered,
        std::function<void(quint64 key, const QString& action)> invoked);

    // Calls sent to the server so far, for the benchmark's count.
    quint64 sentCount() const { return m_sent; }
    int inFlightCount() const { return m_inFlight; }

private slots:
    // QtDBus delivers bus signals to slots named by signature only.
    void onActionInvoked(uint id, const QString& actionKey);
    void onNotificationClosed(uint id, uint reason);

private:
    struct Shown
    {
        uint serverId = 0;
        bool inFlight = false;
        bool pending = false; // the latest text has not been sent yet
        bool flushScheduled = false;
        QString summary;
        QString body;
        QStringList extraActions; // the names sent last
        QElapsedTimer sinceSent;
    };

    bool connectBus();
    // Forgets the server id of the key; the entry goes too unless something of it is still under way.
    // Returns the next entry.
    QHash<quint64, Shown>::iterator forgetId(QHash<quint64, Shown>::iterator it);
    void forgetAllIds();
    void send(quint64 key);
    void replied(quint64 key, QDBusPendingCallWatcher* watcher);
    // Sends the key's latest text if its interval and a free slot allow, else sees that it goes later.
    void flush(quint64 key);

    std::function<void(quint64)> m_activated;
    std::function<QStringList(quint64)> m_extraOffered;
    std::function<void(quint64, const QString&)> m_extraInvoked;
    QHash<quint64, Shown> m_shown;
    bool m_connected = false;
    QDBusServiceWatcher* m_owner = nullptr; // the server's name, once connected
    QElapsedTimer m_sinceFailure;
    quint64 m_sent = 0;
    int m_inFlight = 0;
};
