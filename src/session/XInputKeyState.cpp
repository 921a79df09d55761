#include "XInputKeyState.h"

#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>
#include <xcb/xinput.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace {
// The keysyms of F9 to F12, in the order of FunctionKeyState::Key.
constexpr std::array<xcb_keysym_t, 4> FunctionKeysyms { 0xffc6, 0xffc7, 0xffc8, 0xffc9 };

struct FreeDeleter
{
    void operator()(void* p) const { std::free(p); }
};
template <typename T> using Reply = std::unique_ptr<T, FreeDeleter>;

xcb_connection_t* applicationConnection()
{
    // Without a display the program runs on a plain QCoreApplication: no X connection at all.
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    auto* x11 = app ? app->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    // Under the offscreen platform the interface exists but has no connection.
    return x11 ? x11->connection() : nullptr;
}
} // namespace

XInputKeyState::XInputKeyState()
{
    xcb_connection_t* c = applicationConnection();
    if (!c || xcb_connection_has_error(c))
        return;
    const xcb_query_extension_reply_t* ext = xcb_get_extension_data(c, &xcb_input_id);
    if (!ext || !ext->present)
        return;
    // Raw events need the client to announce XInput 2 before it selects them.
    const Reply<xcb_input_xi_query_version_reply_t> version(
        xcb_input_xi_query_version_reply(c, xcb_input_xi_query_version(c, 2, 2), nullptr));
    if (!version || version->major_version < 2)
        return;
    const xcb_screen_iterator_t screen = xcb_setup_roots_iterator(xcb_get_setup(c));
    if (!screen.rem)
        return;
    m_rootWindow = screen.data->root;
    m_xinputOpcode = ext->major_opcode;
    m_connection = c;
}

XInputKeyState::~XInputKeyState()
{
    stopWatching();
}

void XInputKeyState::startWatching()
{
    if (!m_connection || m_watching)
        return;
    lookUpKeycodes();
    m_latched.reset();
    m_watching = true;
    qGuiApp->installNativeEventFilter(this);
    selectRawPresses(true);
}

void XInputKeyState::stopWatching()
{
    if (!m_watching)
        return;
    m_watching = false;
    selectRawPresses(false);
    if (qGuiApp)
        qGuiApp->removeNativeEventFilter(this);
}

bool XInputKeyState::takePressed(Key key)
{
    if (!m_watching)
        return false;
    const bool pressed = m_latched.test(key) || isDown(key);
    m_latched.reset(key);
    return pressed;
}

bool XInputKeyState::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_GE_GENERIC)
        return false;
    const auto* generic = static_cast<const xcb_ge_generic_event_t*>(message);
    if (generic->extension != m_xinputOpcode || generic->event_type != XCB_INPUT_RAW_KEY_PRESS)
        return false;
    const auto keycode = static_cast<const xcb_input_raw_key_press_event_t*>(message)->detail;
    for (std::size_t key = 0; key < m_keycodes.size(); ++key) {
        if (m_keycodes[key].contains(keycode))
            m_latched.set(key);
    }
    return false; // everyone else sees the event as if we were not here
}

void XInputKeyState::selectRawPresses(bool on)
{
    // The master devices have a mask of their own on the root window; Qt's selections for all
    // devices stay untouched.
    struct
    {
        xcb_input_event_mask_t head;
        uint32_t bits;
    } mask { { XCB_INPUT_DEVICE_ALL_MASTER, 1 }, on ? uint32_t(XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS) : 0u };
    xcb_input_xi_select_events(m_connection, m_rootWindow, 1, &mask.head);
    xcb_flush(m_connection);
}

void XInputKeyState::lookUpKeycodes()
{
    for (auto& codes : m_keycodes)
        codes.clear();
    const xcb_setup_t* setup = xcb_get_setup(m_connection);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    const Reply<xcb_get_keyboard_mapping_reply_t> map(xcb_get_keyboard_mapping_reply(
        m_connection, xcb_get_keyboard_mapping(m_connection, setup->min_keycode, quint8(count)), nullptr));
    if (!map || map->keysyms_per_keycode == 0)
        return;
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(map.get());
    const int perKeycode = map->keysyms_per_keycode;
    for (int i = 0; i < count; ++i) {
        for (std::size_t key = 0; key < FunctionKeysyms.size(); ++key) {
            const xcb_keysym_t* first = syms + i * perKeycode;
            if (std::find(first, first + perKeycode, FunctionKeysyms[key]) != first + perKeycode)
                m_keycodes[key].append(quint8(setup->min_keycode + i));
        }
    }
}

bool XInputKeyState::isDown(Key key) const
{
    const Reply<xcb_query_keymap_reply_t> keymap(
        xcb_query_keymap_reply(m_connection, xcb_query_keymap(m_connection), nullptr));
    if (!keymap)
        return false;
    for (quint8 code : m_keycodes[key]) {
        if (keymap->keys[code / 8] & (1u << (code % 8)))
            return true;
    }
    return false;
}
