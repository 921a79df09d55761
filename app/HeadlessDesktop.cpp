#include "HeadlessDesktop.h"

HeadlessDesktop::HeadlessDesktop(StatusReporter& status)
    : m_hotkeys(m_keyState, HotkeyTargets { .status = &status })
{
}
