#include "DisplaySession.h"

#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

#include <wayland-client.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace DisplaySession {

QByteArray platformFor(const QByteArray& userPlatform, const QByteArray& waylandDisplay,
    const QByteArray& sessionType, const QByteArray& display)
{
    if (!userPlatform.isEmpty())
        return {};
    if (!waylandDisplay.isEmpty() || sessionType == "wayland")
        return QByteArrayLiteral("wayland;xcb");
    if (!display.isEmpty())
        return QByteArrayLiteral("xcb");
    return {};
}

QByteArray platformForEnvironment()
{
    return platformFor(qgetenv("QT_QPA_PLATFORM"), qgetenv("WAYLAND_DISPLAY"), qgetenv("XDG_SESSION_TYPE"),
        qgetenv("DISPLAY"));
}

bool isWaylandSession()
{
    return !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") || qgetenv("XDG_SESSION_TYPE") == "wayland";
}

Kind current()
{
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return Kind::None;
    const QString platform = QGuiApplication::platformName();
    if (platform.startsWith(QLatin1String("wayland")))
        return Kind::Wayland;
    if (platform == u"xcb")
        return isWaylandSession() ? Kind::XWayland : Kind::X11;
    return Kind::None;
}

QString name(Kind kind)
{
    switch (kind) {
    case Kind::X11:
        return QStringLiteral("X11");
    case Kind::Wayland:
        return QStringLiteral("Wayland");
    case Kind::XWayland:
        return QStringLiteral("XWayland");
    case Kind::None:
        break;
    }
    return QStringLiteral("none");
}

bool hasXEmbedTray()
{
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    auto* x11 = app ? app->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c || xcb_connection_has_error(c))
        return false;
    // Desktops with more than one X screen are gone; the tray sits on the first.
    const QByteArray selection = QByteArrayLiteral("_NET_SYSTEM_TRAY_S0");
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> atom(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, selection.size(), selection.constData()), nullptr),
        &std::free);
    if (!atom || atom->atom == XCB_ATOM_NONE)
        return false;
    std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&std::free)> owner(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom->atom), nullptr), &std::free);
    return owner && owner->owner != XCB_WINDOW_NONE;
}

bool waylandCompositorOffers(const char* interface)
{
    std::unique_ptr<wl_display, decltype(&wl_display_disconnect)> display(
        wl_display_connect(nullptr), &wl_display_disconnect);
    if (!display)
        return false;
    struct Search
    {
        const char* interface;
        bool found = false;
    } search { interface };
    static const wl_registry_listener listener {
        [](void* data, wl_registry*, uint32_t, const char* offered, uint32_t) {
            auto* search = static_cast<Search*>(data);
            search->found = search->found || std::strcmp(offered, search->interface) == 0;
        },
        [](void*, wl_registry*, uint32_t) {},
    };
    wl_registry* registry = wl_display_get_registry(display.get());
    wl_registry_add_listener(registry, &listener, &search);
    // One round trip: the compositor lists every global before it answers.
    const bool answered = wl_display_roundtrip(display.get()) >= 0;
    wl_registry_destroy(registry);
    return answered && search.found;
}

} // namespace DisplaySession
