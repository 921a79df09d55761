#pragma once

#include "FunctionKeyState.h"

#include <QAbstractNativeEventFilter>
#include <QList>

#include <array>
#include <bitset>

struct xcb_connection_t;

// F9 to F12 on X11: raw key presses of all master keyboards, seen through the application's own X
// connection, plus the keys down at the moment of asking. Raw events are a copy for listeners, not
// a grab, so the focused program still gets every key. Only presses are selected and only these
// four keys are kept.
class XInputKeyState final : public FunctionKeyState, private QAbstractNativeEventFilter
{
public:
    XInputKeyState();
    ~XInputKeyState() override;

    bool isAvailable() const override { return m_connection != nullptr; }
    void startWatching() override;
    void stopWatching() override;
    bool takePressed(Key key) override;

private:
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;
    void selectRawPresses(bool on);
    void lookUpKeycodes();
    bool isDown(Key key) const;

    xcb_connection_t* m_connection = nullptr;
    quint32 m_rootWindow = 0;
    quint8 m_xinputOpcode = 0;
    bool m_watching = false;
    // The keycodes each key sits on; a keyboard map may put a key on more than one.
    std::array<QList<quint8>, 4> m_keycodes;
    std::bitset<4> m_latched;
};
