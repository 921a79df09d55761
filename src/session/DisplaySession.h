#pragma once

#include <QByteArray>
#include <QString>

// Which display the program runs on, and which one it should ask Qt for.
namespace DisplaySession {

enum class Kind { None, X11, Wayland, XWayland };

// The Qt platform to ask for where the user named none: Wayland in a Wayland session (X11 where
// its plugin or compositor is missing), X11 where there is an X display; empty: Qt's own choice.
QByteArray platformFor(const QByteArray& userPlatform, const QByteArray& waylandDisplay,
    const QByteArray& sessionType, const QByteArray& display);
// The same, read from this process's environment.
QByteArray platformForEnvironment();

bool isWaylandSession();
// From the running application's platform: X11 in a Wayland session is XWayland.
Kind current();
QString name(Kind kind);

// Whether an X11 tray host (XEmbed) holds the tray selection of the application's screen.
bool hasXEmbedTray();

// Whether the session's Wayland compositor offers the global interface, such as "xdg_activation_v1";
// asked over a connection of its own, so Qt's stays untouched. False without a compositor.
bool waylandCompositorOffers(const char* interface);

} // namespace DisplaySession
