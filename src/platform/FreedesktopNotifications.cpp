#include "FreedesktopNotifications.h"

#include "SessionBus.h"

#include <QDBusConnection>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
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
    connection.connect(QString(), Path, Interface, QStringLiteral("ActionInvoked"), this,
        SLOT(onActionInvoked(uint, QString)));
    m_connected = true;
    return true;
}

void FreedesktopNotifications::notify(quint64 key, const QString& summary, const QString& body)
{
    if (!m_shown.contains(key) && !connectBus())
        return;
    if (m_shown.size() >= MaxRemembered && !m_shown.contains(key)) {
        for (auto it = m_shown.begin(); it != m_shown.end();) {
            it = it->inFlight || it->pending ? std::next(it) : m_shown.erase(it);
        }
    }
    Shown& shown = m_shown[key];
    shown.summary = summary;
    shown.body = body;
    if (shown.inFlight || shown.pending) {
        shown.pending = true;
        return;
    }
    if (shown.sinceSent.isValid() && shown.sinceSent.elapsed() < MinUpdateInterval) {
        shown.pending = true;
        scheduleFlush(key);
        return;
    }
    send(key);
}

void FreedesktopNotifications::send(quint64 key)
{
    Shown& shown = m_shown[key];
    QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Interface, QStringLiteral("Notify"));
    // "default" is what a click on the notification itself invokes; servers that draw buttons
    // show the second pair.
    const QStringList actions { QStringLiteral("default"), QStringLiteral("Show"), QStringLiteral("show"),
        QStringLiteral("Show") };
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
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
        [this, key](QDBusPendingCallWatcher* w) { replied(key, w); });
}

void FreedesktopNotifications::replied(quint64 key, QDBusPendingCallWatcher* watcher)
{
    watcher->deleteLater();
    const QDBusPendingReply<uint> reply = *watcher;
    auto it = m_shown.find(key);
    if (it == m_shown.end())
        return;
    it->inFlight = false;
    if (reply.isError()) {
        // No server: quiet, and no more calls until the retry interval has passed.
        m_shown.clear();
        m_connected = false;
        m_sinceFailure.start();
        return;
    }
    it->serverId = reply.value();
    if (it->pending)
        scheduleFlush(key);
}

void FreedesktopNotifications::scheduleFlush(quint64 key)
{
    const Shown& shown = m_shown[key];
    const qint64 wait = std::max<qint64>(0, MinUpdateInterval - shown.sinceSent.elapsed());
    QTimer::singleShot(int(wait), this, [this, key] {
        auto it = m_shown.find(key);
        if (it != m_shown.end() && it->pending && !it->inFlight)
            send(key);
    });
}

void FreedesktopNotifications::onActionInvoked(uint id, const QString& actionKey)
{
    if (actionKey != QLatin1String("default") && actionKey != QLatin1String("show"))
        return;
    for (auto it = m_shown.cbegin(); it != m_shown.cend(); ++it) {
        if (it->serverId == id && id != 0) {
            m_activated(it.key());
            return;
        }
    }
}
