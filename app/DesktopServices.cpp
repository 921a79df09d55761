#include "DesktopServices.h"

DesktopServices::DesktopServices()
    : m_registration(AutostartEntry(QStringLiteral("sentrel")))
{
}

AlertServices DesktopServices::alertServices(IconFlasher& flasher)
{
    AlertServices services;
    services.iconFlasher = &flasher;
    services.wallpaper = &m_wallpaper;
    services.launcher = &m_launcher;
    services.clipboard = &m_clipboard;
    services.soundPlayer = &m_soundPlayer;
    services.chat = &m_chat;
    return services;
}
