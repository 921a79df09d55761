#include "DesktopProbe.h"

#include "DesktopWallpaperChanger.h"
#include "SessionBus.h"
#include "XInputKeyState.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QStandardPaths>

namespace {
const QString PortalService = QStringLiteral("org.freedesktop.portal.Desktop");

// Asks for a portal interface's version: the portal starts on demand, as for any program using it.
QDBusMessage portalVersion(const QString& interface)
{
    QDBusMessage message = QDBusMessage::createMethodCall(PortalService,
        QStringLiteral("/org/freedesktop/portal/desktop"), QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    message << interface << QStringLiteral("version");
    return message;
}

bool offersVersion1(const QDBusMessage& reply)
{
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()
        && reply.arguments().first().value<QDBusVariant>().variant().toUInt() >= 1;
}

QStringList names(const QDBusMessage& reply)
{
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()
        ? reply.arguments().first().toStringList()
        : QStringList();
}
} // namespace

DesktopProbe::DesktopProbe(QObject* parent)
    : QObject(parent)
{
    m_timeout.setSingleShot(true);
    m_timeout.setInterval(Timeout);
    connect(&m_timeout, &QTimer::timeout, this, [this] {
        m_waiting = 0;
        answered();
    });
}

void DesktopProbe::start()
{
    m_facts.display = DisplaySession::current();
    m_facts.xembedTray = DisplaySession::hasXEmbedTray();
    m_facts.x11Keys = XInputKeyState().isAvailable();
    m_facts.feh = !QStandardPaths::findExecutable(QStringLiteral("feh")).isEmpty();
    m_facts.desktop = qEnvironmentVariable("XDG_CURRENT_DESKTOP");
    m_bus = SessionBus::ifRunning();
    m_facts.sessionBus = m_bus.has_value();
    m_waiting = 1; // until every question is out
    m_timeout.start();
    if (m_bus) {
        const auto busCall = [](const char* method) {
            return QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("org.freedesktop.DBus"),
                QString::fromLatin1(method));
        };
        ask(busCall("ListNames"), [this](const QDBusMessage& reply) {
            const QStringList owned = names(reply);
            m_facts.trayWatcher = owned.contains(QStringLiteral("org.kde.StatusNotifierWatcher"));
            m_facts.notificationServer |= owned.contains(QStringLiteral("org.freedesktop.Notifications"));
        });
        ask(busCall("ListActivatableNames"), [this](const QDBusMessage& reply) {
            m_facts.notificationServer |= names(reply).contains(QStringLiteral("org.freedesktop.Notifications"));
        });
        ask(portalVersion(QStringLiteral("org.freedesktop.portal.GlobalShortcuts")),
            [this](const QDBusMessage& reply) { m_facts.shortcutsPortal = offersVersion1(reply); });
        ask(portalVersion(QStringLiteral("org.freedesktop.portal.Wallpaper")),
            [this](const QDBusMessage& reply) { m_facts.wallpaperPortal = offersVersion1(reply); });
    }
    answered();
}

void DesktopProbe::ask(const QDBusMessage& message, std::function<void(const QDBusMessage&)> take)
{
    ++m_waiting;
    auto* watcher = new QDBusPendingCallWatcher(m_bus->asyncCall(message, int(Timeout.count())), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, take = std::move(take)] {
        watcher->deleteLater();
        if (m_finished)
            return;
        take(watcher->reply());
        answered();
    });
}

void DesktopProbe::answered()
{
    if (m_finished || --m_waiting > 0)
        return;
    m_finished = true;
    m_timeout.stop();
    emit finished();
}

QStringList DesktopProbe::waylandLimits(bool alwaysOnTop, bool copyClipboard)
{
    QStringList lines { QStringLiteral("On Wayland the compositor decides:") };
    if (alwaysOnTop)
        lines << QStringLiteral("Always On Top cannot work");
    lines << QStringLiteral("the window cannot place itself");
    if (copyClipboard)
        lines << QStringLiteral("Copy Clipboard needs the focus");
    return lines;
}

QStringList DesktopProbe::describe(const Facts& facts)
{
    using Kind = DisplaySession::Kind;
    const bool none = facts.display == Kind::None;
    const bool x11 = facts.display == Kind::X11 || facts.display == Kind::XWayland;
    const bool wayland = facts.display == Kind::Wayland || facts.display == Kind::XWayland;

    QString tray = QStringLiteral("none (no tray host: the window stays on the task bar)");
    if (none)
        tray = QStringLiteral("none (no display)");
    else if (facts.trayWatcher)
        tray = QStringLiteral("StatusNotifierItem");
    else if (x11 && facts.xembedTray)
        tray = QStringLiteral("XEmbed");

    QString keys;
    if (none)
        keys = QStringLiteral("not available (no display)");
    else if (!wayland)
        keys = facts.x11Keys ? QStringLiteral("X11 input extension")
                             : QStringLiteral("not available (the X server has no XInput 2)");
    else if (facts.shortcutsPortal)
        keys = QStringLiteral("portal (org.freedesktop.portal.GlobalShortcuts)");
    else if (x11 && facts.x11Keys)
        keys = QStringLiteral("X11 input extension, only while an X11 window has focus (no shortcuts portal)");
    else
        keys = facts.sessionBus ? QStringLiteral("not available (the desktop offers no GlobalShortcuts portal)")
                                : QStringLiteral("not available (no session bus to reach the desktop portal)");

    const auto desktop = DesktopWallpaperChanger::desktopFromName(facts.desktop);
    QString wallpaper = DesktopWallpaperChanger::methodName(desktop, wayland);
    if (desktop == DesktopWallpaperChanger::Desktop::Other && wayland && !facts.wallpaperPortal)
        wallpaper = QStringLiteral("none (no desktop settings known and no Wallpaper portal)");
    else if (desktop == DesktopWallpaperChanger::Desktop::Other && !wayland && !facts.feh)
        wallpaper = QStringLiteral("none (no desktop settings known and feh is not installed)");

    const QString notifications = facts.notificationServer
        ? QStringLiteral("org.freedesktop.Notifications")
        : (facts.sessionBus ? QStringLiteral("none (no notification server on the session bus)")
                            : QStringLiteral("none (no session bus)"));
    const QString clipboard = none ? QStringLiteral("none (no display)")
        : wayland ? QStringLiteral("only while a Sentrel window has the focus (Wayland)")
                  : QStringLiteral("yes");
    const QString onTop = none ? QStringLiteral("no (no window)")
        : facts.display == Kind::Wayland ? QStringLiteral("no (Wayland compositors decide the stacking)")
                                         : QStringLiteral("yes");

    return { QStringLiteral("Display: ") + DisplaySession::name(facts.display), QStringLiteral("Tray: ") + tray,
        QStringLiteral("Global hotkeys: ") + keys, QStringLiteral("Notifications: ") + notifications,
        QStringLiteral("Clipboard: ") + clipboard, QStringLiteral("Wallpaper: ") + wallpaper,
        QStringLiteral("Always on top: ") + onTop };
}
