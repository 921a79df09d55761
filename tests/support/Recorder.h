#pragma once

#include "ChatCommandSender.h"
#include "Clipboard.h"
#include "Event.h"
#include "EventSink.h"
#include "IconFlasher.h"
#include "IntruderRecord.h"
#include "IntrusionObserver.h"
#include "ProgramLauncher.h"
#include "SettingsStore.h"
#include "SoundPlayer.h"
#include "StatusReporter.h"
#include "WallpaperChanger.h"

#include <vector>

// An address as the tests write it; null when the text is none.
inline IpAddress ip(const QString& text)
{
    return IpAddress::parse(text).value_or(IpAddress());
}

// Every request the program's parts make of the desktop and of the user, as "kind:what" in one log in
// the order they happened; events kept; the settings in memory.
// clang-format off
struct Recorder final : StatusReporter, SoundPlayer, IntrusionObserver, SettingsStore, EventSink, IconFlasher,
                        WallpaperChanger, ProgramLauncher, Clipboard, ChatCommandSender
{
    void addStatusLine(const QString& text) override { log << "line:" + text; }
    void setStatusText(const QString& text) override { log << "text:" + text; }
    void play(const QString& fileName) override { log << "sound:" + fileName; }
    void intrusion(const Intrusion& i) override
    {
        const IntruderRecord& r = i.intruder;
        log << "alert:" + r.intruderIP + '|' + QString::number(r.attackedPort) + '|' + r.intruderMessage;
    }
    void startFlashing() override { log << "flash:"; }
    void changeWallpaper(const QString& path) override { log << "wallpaper:" + path; }
    bool start(const QString& line, const Environment& = {}) override { return log << "start:" + line, true; }
    void copyToClipboard(const QString& text) override { log << "clipboard:" + text; }
    void sendCommand(const QString& service, const QString& text) override { log << "chat:" + service + '|' + text; }
    QString read(const QString& g, const QString& k) const override { return values[g + '/' + k]; }
    void write(const QString& g, const QString& k, const QString& v) override { values[g + '/' + k] = v; }
    void sync() override { }
    void record(const Event& e) override { events.push_back(e); }
    // clang-format on

    // The entries of one kind, without it: lines() are the status lines.
    QStringList all(const QString& kind) const
    {
        QStringList out;
        for (const QString& entry : log)
            if (entry.startsWith(kind + ':'))
                out << entry.mid(kind.size() + 1);
        return out;
    }
    QStringList lines() const { return all("line"); }

    QStringList log;
    QHash<QString, QString> values;
    std::vector<Event> events;
};
