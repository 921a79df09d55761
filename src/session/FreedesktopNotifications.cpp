#include "FreedesktopNotifications.h"

#include "SessionBus.h"

#include <QDBusConnection>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QVariantMap>

namespace {
const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString Path = QStringLiteral("/org/freedesktop/Notifications");
const QString Interface = QStringLiteral("org.freedesktop.Notifications");
// How many notifications of ended incidents keep their server id; older ones are forgotten.
constexpr qsizetype MaxRemembered = 256;
} // namespace

FreedesktopNotifications::FreedesktopNotifications(std::function<void(quint64)> activated, QObject* parent)
    : QObject(parent)
    , m_activated(std::move(activated))
{
}

bool FreedesktopNotifications::connectBus()
{
    if (m_connected)
        return true;
    if (m_sinceFailure.isValid() && m_sinceFailure.elapsed() < RetryInterval)
        return false;
    const std::optional<QDBusConnection> bus = SessionBus::ifRunning();
    if (!bus) {
        m_sinceFailure.start();
        return false;
    }
    QDBusConnection connection = *bus;
    // Only from the server: any other program on the bus could send a signal of that name.
    connection.connect(Service, Path, Interface, QStringLiteral("ActionInvoked"), this,
        SLOT(onActionInvoked(uint, QString)));
    connection.connect(Service, Path, Interface, QStringLiteral("NotificationClosed"), this,
        SLOT(onNotificationClosed(uint, uint)));
    if (!m_owner) {
        m_owner
            = new QDBusServiceWatcher(Service, connection, QDBusServiceWatcher::WatchForOwnerChange, this);
        connect(m_owner, &QDBusServiceWatcher::serviceOwnerChanged, this,
            &FreedesktopNotifications::forgetAllIds);
    }
    m_connected = true;
    return true;
}

void FreedesktopNotifications::notify(quint64 key, const QString& summary, const QString& body)
{
    if (!m_shown.contains(key)) {
        if (!connectBus())
            return;
        if (m_shown.size() >= MaxRemembered) {
            // Forgotten: the ids of ended incidents' notifications and any update still waiting.
            for (auto it = m_shown.begin(); it != m_shown.end();)
                it = it->inFlight ? std::next(it) : m_shown.erase(it);
        }
    }
    Shown& shown = m_shown[key];
    shown.summary = summary;
    shown.body = body;
    shown.pending = true;
    flush(key);
}

void FreedesktopNotifications::flush(quint64 key)
{
    Shown& shown = m_shown[key];
    if (!shown.pending || shown.inFlight || shown.flushScheduled)
        return; // the reply or the timer brings it back
    const qint64 wait = shown.sinceSent.isValid() ? MinUpdateInterval - shown.sinceSent.elapsed() : 0;
    if (wait > 0) {
        shown.flushScheduled = true;
        QTimer::singleShot(int(wait), this, [this, key] {
            auto it = m_shown.find(key);
            if (it != m_shown.end()) {
                it->flushScheduled = false;
                flush(key);
            }
        });
        return;
    }
    if (m_inFlight < MaxInFlight)
        send(key);
}

void FreedesktopNotifications::send(quint64 key)
{
    Shown& shown = m_shown[key];
    QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Interface, QStringLiteral("Notify"));
    // "default" is what a click on the notification itself invokes; servers that draw buttons
    // show the second pair.
    QStringList actions { QStringLiteral("default"), QStringLiteral("Show"), QStringLiteral("show"),
        QStringLiteral("Show") };
    shown.extraActions.clear();
    const QStringList extra = m_extraOffered ? m_extraOffered(key) : QStringList();
    for (qsizetype i = 0; i + 1 < extra.size(); i += 2) {
        shown.extraActions << extra.at(i);
        actions << extra.at(i) << extra.at(i + 1);
    }
    const QVariantMap hints { { QStringLiteral("desktop-entry"), QStringLiteral("sentrel") },
        { QStringLiteral("category"), QStringLiteral("network") },
        // The alarm has its own sound setting; the server adds none.
        { QStringLiteral("suppress-sound"), true } };
    call << QStringLiteral("Sentrel") << shown.serverId << QStringLiteral("sentrel") << shown.summary
         << shown.body << actions << hints << -1;
    shown.inFlight = true;
    shown.pending = false;
    shown.sinceSent.start();
    ++m_sent;
    ++m_inFlight;
    auto* watcher
        = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call, CallTimeout), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
        [this, key](QDBusPendingCallWatcher* w) { replied(key, w); });
}

void FreedesktopNotifications::replied(quint64 key, QDBusPendingCallWatcher* watcher)
{
    watcher->deleteLater();
    --m_inFlight;
    const QDBusPendingReply<uint> reply = *watcher;
    if (reply.isError()) {
        // No server, or one that does not answer: quiet, and no more calls until the retry
        // interval has passed.
        m_shown.clear();
        m_connected = false;
        m_sinceFailure.start();
        return;
    }
    auto it = m_shown.find(key);
    if (it != m_shown.end()) {
        it->inFlight = false;
        it->serverId = reply.value();
        // The server gives an id to one open notification at a time: another key holding it holds a
        // stale one, whose close this program did not hear of.
        for (auto other = m_shown.begin(); other != m_shown.end(); ++other)
            if (other != it && other->serverId == it->serverId && it->serverId != 0)
                other->serverId = 0;
    }
    // A slot is free: what waited for one goes out, each key when its interval allows.
    for (const quint64 waiting : m_shown.keys()) {
        if (m_inFlight >= MaxInFlight)
            break;
        flush(waiting);
    }
}

void FreedesktopNotifications::onNotificationClosed(uint id, uint)
{
    for (auto it = m_shown.begin(); it != m_shown.end(); ++it) {
        if (it->serverId == id && id != 0) {
            forgetId(it);
            return;
        }
    }
}

void FreedesktopNotifications::forgetAllIds()
{
    for (auto it = m_shown.begin(); it != m_shown.end();)
        it = forgetId(it);
}

QHash<quint64, FreedesktopNotifications::Shown>::iterator FreedesktopNotifications::forgetId(
    QHash<quint64, Shown>::iterator it)
{
    it->serverId = 0;
    // An update waiting for its interval or a slot, or a reply to come, still needs the entry.
    if (!it->inFlight && !it->pending && !it->flushScheduled)
        return m_shown.erase(it);
    return std::next(it);
}

void FreedesktopNotifications::setExtraActions(std::function<QStringList(quint64 key)> offered,
    std::function<void(quint64 key, const QString& action)> invoked)
{
    m_extraOffered = std::move(offered);
    m_extraInvoked = std::move(invoked);
}

void FreedesktopNotifications::onActionInvoked(uint id, const QString& actionKey)
{
    if (id == 0)
        return;
    for (auto it = m_shown.cbegin(); it != m_shown.cend(); ++it) {
        if (it->serverId != id)
            continue;
        if (actionKey == QLatin1String("default") || actionKey == QLatin1String("show"))
            m_activated(it.key());
        else if (it->extraActions.contains(actionKey) && m_extraInvoked)
            m_extraInvoked(it.key(), actionKey);
        return;
    }
}
