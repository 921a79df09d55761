#pragma once

#include "StartupTargets.h"

// Stand-ins for areas that have no implementation on this platform (yet): they accept every
// call and do nothing. A tray that does not exist is never shown.

class NullTrayIcon final : public TrayIcon
{
public:
    void trayIconAdd() override { }
    void trayIconDelete() override { }
    bool isShown() const override { return false; }
};

class NullHotkeyPoller final : public HotkeyPoller
{
public:
    void load() override { }
    void unload() override { }
};

class NullStartupRegistration final : public StartupRegistration
{
public:
    void addToStartup() override { }
    void removeFromStartup() override { }
};

class NullNetworkWatch final : public NetworkWatch
{
public:
    void setEnabled(bool) override { }
    void resetNetState() override { }
};
