#pragma once

#include <QString>

// The state of the function keys F9 to F12 for the whole desktop, whichever program has the
// keyboard focus. Nothing is grabbed: the other programs still receive these keys.
class FunctionKeyState
{
public:
    enum Key { F9, F10, F11, F12 };

    virtual ~FunctionKeyState() = default;

    // False where the desktop offers no global key state (no display, a Wayland desktop without
    // the shortcuts portal). It may turn false after the watch began: the desktop answers late.
    virtual bool isAvailable() const = 0;
    // What the user should know about keys that work only in part; empty where they simply work.
    virtual QString limitation() const { return {}; }
    // Starts noting presses; presses made before this are forgotten.
    virtual void startWatching() = 0;
    // Stops noting presses; nothing of the keyboard is watched afterwards.
    virtual void stopWatching() = 0;
    // True when the key has been pressed since the previous call for it, or is down now. The
    // first part is forgotten by the call, so a key held down answers true at every call.
    virtual bool takePressed(Key key) = 0;
};
