#pragma once

// The tray icon as start-up, re-applying the settings and the monitor window see it.
class TrayIcon
{
public:
    virtual ~TrayIcon() = default;
    virtual void trayIconAdd() = 0;
    virtual void trayIconDelete() = 0;
    // True while an icon is shown in a notification area that exists.
    virtual bool isShown() const = 0;
};
