#include "SessionBus.h"

#include <QDBusMessage>
#include <QFileInfo>

namespace SessionBus {

std::optional<QDBusConnection> ifRunning()
{
    const QString runtimeDir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const bool announced = !qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")
        || (!runtimeDir.isEmpty() && QFileInfo::exists(runtimeDir + QStringLiteral("/bus")));
    if (!announced)
        return std::nullopt;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return std::nullopt;
    return bus;
}

QDBusMessage methodCall(
    const QString& service, const QString& path, const QString& interface, const QString& method)
{
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setAutoStartService(false);
    return message;
}

} // namespace SessionBus
