#include "SessionKeyState.h"

SessionKeyState::SessionKeyState(DisplaySession::Kind display, std::optional<QDBusConnection> bus)
    : m_display(display)
{
    if (bus && (display == DisplaySession::Kind::Wayland || display == DisplaySession::Kind::XWayland))
        m_portal = std::make_unique<PortalShortcuts>(*bus);
}

SessionKeyState::~SessionKeyState()
{
    stopWatching();
}

FunctionKeyState* SessionKeyState::active() const
{
    if (m_portal && m_portal->isAvailable())
        return m_portal.get();
    if (m_x11->isAvailable())
        return m_x11.get();
    return nullptr;
}

void SessionKeyState::follow()
{
    FunctionKeyState* now = m_watching ? active() : nullptr;
    if (now == m_watched)
        return;
    if (m_watched)
        m_watched->stopWatching();
    m_watched = now;
    if (m_watched)
        m_watched->startWatching();
}

void SessionKeyState::startWatching()
{
    m_watching = true;
    follow();
}

void SessionKeyState::stopWatching()
{
    m_watching = false;
    follow();
}

bool SessionKeyState::takePressed(Key key)
{
    follow();
    return m_watched && m_watched->takePressed(key);
}

QString SessionKeyState::limitation() const
{
    if (m_display == DisplaySession::Kind::XWayland && active() == m_x11.get())
        return QString::fromLatin1(FocusOnlyText);
    return {};
}
