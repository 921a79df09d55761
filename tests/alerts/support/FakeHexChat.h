#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QStringList>

// HexChat's remote-control object on a bus of its own connection. A busy HexChat takes the
// commands but never answers.
class FakeHexChat : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.hexchat.plugin")

public:
    explicit FakeHexChat(const QString& busAddress)
        : m_bus(QDBusConnection::connectToBus(busAddress, QStringLiteral("fake-hexchat")))
    {
        m_bus.registerObject(
            QStringLiteral("/org/hexchat/Remote"), this, QDBusConnection::ExportScriptableSlots);
        m_bus.registerService(QStringLiteral("org.hexchat.service"));
    }
    ~FakeHexChat() override
    {
        m_bus.unregisterService(QStringLiteral("org.hexchat.service"));
        m_bus.unregisterObject(QStringLiteral("/org/hexchat/Remote"));
        QDBusConnection::disconnectFromBus(QStringLiteral("fake-hexchat"));
    }

    QStringList commands;
    bool busy = false;

public slots:
    Q_SCRIPTABLE void Command(const QString& command, const QDBusMessage& message)
    {
        commands << command;
        if (busy)
            message.setDelayedReply(true);
    }

private:
    QDBusConnection m_bus;
};
