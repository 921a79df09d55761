#include "HexChatRemote.h"

#include "SessionBus.h"

#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

HexChatRemote::HexChatRemote(QObject* parent)
    : QObject(parent)
{
}

bool HexChatRemote::command(const QString& text, std::function<void()> onFailure)
{
    const std::optional<QDBusConnection> bus = SessionBus::ifRunning();
    if (!bus)
        return false;
    if (m_pending >= MaxPendingCalls)
        return true;
    QDBusMessage call
        = SessionBus::methodCall(QStringLiteral("org.hexchat.service"), QStringLiteral("/org/hexchat/Remote"),
            QStringLiteral("org.hexchat.plugin"), QStringLiteral("Command"));
    call << text;
    auto* watcher = new QDBusPendingCallWatcher(bus->asyncCall(call), this);
    ++m_pending;
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
        [this, onFailure = std::move(onFailure)](QDBusPendingCallWatcher* finished) {
            --m_pending;
            finished->deleteLater();
            if (finished->isError() && onFailure)
                onFailure();
        });
    return true;
}
