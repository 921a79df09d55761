#include "QtTrayBackend.h"

#include "MenuActions.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QGuiApplication>
#include <QPixmap>

namespace {
QIcon blankIcon()
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    return QIcon(pixmap);
}
} // namespace

QtTrayBackend::QtTrayBackend(MenuActions& actions, QObject* parent)
    : QObject(parent)
    , m_normal(QStringLiteral(":/sentrel.png"))
    , m_blank(blankIcon())
    , m_icon(m_normal)
{
    m_menu.setTitle(QStringLiteral("SystemTray Menu"));
    m_menu.addAction(actions.restore);
    m_menu.addSeparator();
    m_menu.addAction(actions.trayExit);
    m_menu.setDefaultAction(actions.restore); // bold on XEmbed trays; SNI menus have no default
    m_icon.setContextMenu(&m_menu);
    m_icon.setToolTip(QStringLiteral("Sentrel"));
    connect(&m_icon, &QSystemTrayIcon::activated, this, &QtTrayBackend::activated);
}

void QtTrayBackend::setIconVisible(bool visible)
{
    // Without a display there is no notification area to wait for.
    if (visible && QGuiApplication::platformName() == QLatin1String("offscreen"))
        return;
    m_icon.setVisible(visible);
}

void QtTrayBackend::setBlank(bool blank)
{
    // The window asks for the normal icon on every mouse movement; only a change goes out (on
    // StatusNotifierItem hosts each icon change is a message on the session bus).
    if (blank == m_isBlank)
        return;
    m_isBlank = blank;
    m_icon.setIcon(blank ? m_blank : m_normal);
}

void QtTrayBackend::setNormalImage(const QImage& image)
{
    m_normal = QIcon(QPixmap::fromImage(image));
    if (!m_isBlank)
        m_icon.setIcon(m_normal);
}

void QtTrayBackend::setToolTip(const QString& text)
{
    // Asked again every second with the allowed count; only a change goes out.
    if (m_icon.toolTip() != text)
        m_icon.setToolTip(text);
}

bool QtTrayBackend::isIconVisible() const
{
    return m_icon.isVisible();
}

bool QtTrayBackend::isTrayAvailable() const
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

bool QtTrayBackend::isSingleClickHost() const
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected() && bus.interface()
        && bus.interface()->isServiceRegistered(QStringLiteral("org.kde.StatusNotifierWatcher")).value();
}
