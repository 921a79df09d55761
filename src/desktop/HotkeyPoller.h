#pragma once

#include "DesktopSeams.h"
#include "FunctionKeyState.h"
#include "HotkeyControl.h"
#include "MonitorWindowControl.h"
#include "MonitoringControl.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>

class StatusReporter;

// What the function keys act on.
struct HotkeyTargets
{
    MonitorWindowAccess* window = nullptr;
    MonitorWindowControl* view = nullptr;
    MonitoringControl* monitoring = nullptr;
    std::function<void()> openOptions {}; // as the Options button does
    StatusReporter* status = nullptr; // told when the desktop has no global keys
    std::function<void()> clearMessages {}; // empties the status list and resets the status text
};

// F9 to F12 from anywhere on the desktop: while loaded, the key state is polled every 1.5 s and
// every key pressed since the last poll (or held down now) fires, in the order F9, F10, F11, F12.
// Nothing is registered with the desktop, so the focused program still gets the keys.
class HotkeyPoller : public QObject, public HotkeyControl
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds DefaultInterval { 1500 };
    static constexpr auto UnavailableText = "Hotkeys are not available on this desktop";

    HotkeyPoller(FunctionKeyState& keys, HotkeyTargets targets,
        std::chrono::milliseconds interval = DefaultInterval, QObject* parent = nullptr);

    // Where the desktop has no global key state, the first load says so in the status list once;
    // so does the first poll after the desktop turned the keys down.
    void load() override;
    void unload() override;
    // F11's target: the options dialog is built after the poller it stops.
    void setOpenOptions(std::function<void()> openOptions) { m_targets.openOptions = std::move(openOptions); }
    bool isLoaded() const { return m_pollTimer.isActive(); }

    // One poll: each key that counts as pressed runs its actions.
    void poll();

private:
    void tellOnce(bool& told, const QString& text);

    FunctionKeyState& m_keys;
    HotkeyTargets m_targets;
    QTimer m_pollTimer;
    bool m_toldUnavailable = false;
    bool m_toldLimitation = false;
};
