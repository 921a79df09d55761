#pragma once

#include "AlertServices.h"
#include "AutostartRegistration.h"
#include "DesktopWallpaperChanger.h"
#include "GuiClipboard.h"
#include "LinuxChatCommandSender.h"
#include "ProcessProgramLauncher.h"
#include "ProcessSoundPlayer.h"

// What the program asks of the user's session besides its own windows: programs started, the
// clipboard, the wallpaper, sounds, the chat client and starting with the session.
class DesktopServices
{
public:
    DesktopServices();

    // The services an alert uses, flashing the given icon.
    AlertServices alertServices(IconFlasher& flasher);

    ProcessProgramLauncher& launcher() { return m_launcher; }
    ProcessSoundPlayer& soundPlayer() { return m_soundPlayer; }
    AutostartRegistration& registration() { return m_registration; }

private:
    ProcessProgramLauncher m_launcher;
    GuiClipboard m_clipboard;
    DesktopWallpaperChanger m_wallpaper;
    LinuxChatCommandSender m_chat;
    ProcessSoundPlayer m_soundPlayer;
    AutostartRegistration m_registration;
};
