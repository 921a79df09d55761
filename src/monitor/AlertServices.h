#pragma once

class ChatCommandSender;
class Clipboard;
class IconFlasher;
class ProgramLauncher;
class SoundPlayer;
class WallpaperChanger;

// The desktop services the alert actions use. All pointers must be set.
struct AlertServices
{
    IconFlasher* iconFlasher = nullptr;
    WallpaperChanger* wallpaper = nullptr;
    ProgramLauncher* launcher = nullptr;
    Clipboard* clipboard = nullptr;
    SoundPlayer* soundPlayer = nullptr;
    ChatCommandSender* chat = nullptr;
};
