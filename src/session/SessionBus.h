#pragma once

#include <QDBusConnection>
#include <QDBusMessage>

#include <optional>

namespace SessionBus {

// The user's session bus when one is announced. Without DBUS_SESSION_BUS_ADDRESS or the
// per-user socket, the D-Bus library would try to autolaunch a bus through X11, which can
// stall the caller; a desktop without a bus simply has no D-Bus services.
std::optional<QDBusConnection> ifRunning();

// Calls a method without waiting and without letting the bus start the service: a program the
// user does not run stays not running. The reply is ignored.
QDBusMessage methodCall(
    const QString& service, const QString& path, const QString& interface, const QString& method);

} // namespace SessionBus
