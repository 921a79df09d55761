#pragma once

#include "DisplaySession.h"
#include "FunctionKeyState.h"
#include "PortalShortcuts.h"
#include "XInputKeyState.h"

#include <QDBusConnection>

#include <memory>
#include <optional>

// The function keys wherever this session offers them: on X11 through its input extension, on
// Wayland through the desktop portal. Under XWayland the portal comes first; where it is missing or
// says no, the X11 keys remain, which the compositor shows an X11 program only while one of the X11
// windows has the focus.
class SessionKeyState final : public FunctionKeyState
{
public:
    static constexpr auto FocusOnlyText = "Hotkeys work only while an X11 window has focus";

    // bus: where the portal is asked; none, or an X11 session: no portal.
    SessionKeyState(DisplaySession::Kind display, std::optional<QDBusConnection> bus);
    ~SessionKeyState() override;

    bool isAvailable() const override { return active() != nullptr; }
    void startWatching() override;
    void stopWatching() override;
    bool takePressed(Key key) override;
    QString limitation() const override;

private:
    FunctionKeyState* active() const;
    // Moves the watch to the source now active: the portal's answer may come after the watch began.
    void follow();

    DisplaySession::Kind m_display;
    std::unique_ptr<XInputKeyState> m_x11 = std::make_unique<XInputKeyState>();
    std::unique_ptr<PortalShortcuts> m_portal;
    bool m_watching = false;
    FunctionKeyState* m_watched = nullptr;
};
