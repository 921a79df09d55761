#pragma once

#include "ChatCommandSender.h"
#include "Clipboard.h"
#include "IconFlasher.h"
#include "ProgramLauncher.h"
#include "SoundPlayer.h"
#include "WallpaperChanger.h"

#include <QStringList>

#include <algorithm>

// Stands in for every desktop service of the alert and records each request, in order, as one
// line: what was asked and with which text.
class AlertRecorder final : public IconFlasher,
                            public WallpaperChanger,
                            public ProgramLauncher,
                            public Clipboard,
                            public SoundPlayer,
                            public ChatCommandSender
{
public:
    void startFlashing() override { calls << QStringLiteral("flash"); }
    void changeWallpaper(const QString& path) override { calls << QStringLiteral("wallpaper ") + path; }
    bool start(const QString& commandLine) override
    {
        calls << QStringLiteral("start ") + commandLine;
        return true;
    }
    void copyToClipboard(const QString& text) override { calls << QStringLiteral("clipboard ") + text; }
    void play(const QString& fileName) override { calls << QStringLiteral("sound ") + fileName; }
    void sendDdeCommand(const QString& service, const QString& message) override
    {
        calls << QStringLiteral("chat %1|%2").arg(service, message);
    }

    int count(const QString& prefix) const
    {
        return int(std::count_if(
            calls.begin(), calls.end(), [&](const QString& c) { return c.startsWith(prefix); }));
    }

    QStringList calls;
};
