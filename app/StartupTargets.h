#pragma once

#include "HotkeyControl.h"
#include "MonitorWindowControl.h"
#include "MonitoringControl.h"
#include "NetworkWatch.h"
#include "StartupRegistration.h"
#include "TrayIcon.h"

// Everything start-up and re-applying the settings switch on and off. Each area implements its own
// interface; start-up only fixes the order and the conditions. All pointers must be set.
struct StartupTargets
{
    MonitorWindowControl* window = nullptr;
    MonitoringControl* monitoring = nullptr;
    TrayIcon* tray = nullptr;
    HotkeyControl* hotkeys = nullptr;
    StartupRegistration* registration = nullptr;
    NetworkWatch* networkWatch = nullptr;
};
