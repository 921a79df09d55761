#pragma once

#include "ChatCommandSender.h"
#include "HexChatRemote.h"

#include <QByteArray>
#include <QStringList>
#include <QTimer>

#include <vector>

// Chat clients that take commands from other programs on Linux. The service name picks the link,
// in any letter case:
//   "hexchat"    HexChat's D-Bus remote;
//   "weechat"    every WeeChat FIFO of this user;
//   "fifo:PATH"  the named pipe at PATH, which gets the plain command line;
//   anything else (the first-start "mIRC" among them): HexChat, and WeeChat when HexChat fails.
// Lines for pipes are collected and written once per event-loop pass, in order and in whole lines:
// opening a pipe for every intrusion of a flood cost more than the rest of the alarm.
class LinuxChatCommandSender final : public ChatCommandSender
{
public:
    LinuxChatCommandSender();

    void sendCommand(const QString& service, const QString& message) override;

    // The FIFOs WeeChat's fifo plugin creates, in its runtime and data folders.
    static QStringList weechatFifos();

private:
    struct PendingLines
    {
        QString path; // of one pipe, when not for WeeChat
        bool forWeechat = false; // every WeeChat FIFO, looked up when they are written
        QByteArray lines;
    };

    void sendToHexChat(const QString& message, bool thenWeechat);
    void sendToWeechat(const QString& message);
    void queue(const QString& path, bool forWeechat, const QByteArray& line);
    void flush();
    static void writeLines(const QString& path, const QByteArray& lines);

    HexChatRemote m_hexChat;
    std::vector<PendingLines> m_pending;
    QTimer m_flushTimer;
};
