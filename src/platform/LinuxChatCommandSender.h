#pragma once

#include "ChatCommandSender.h"
#include "HexChatRemote.h"

#include <QStringList>

// Chat clients that take commands from other programs on Linux. The service name picks the link,
// in any letter case:
//   "hexchat"    HexChat's D-Bus remote;
//   "weechat"    every WeeChat FIFO of this user;
//   "fifo:PATH"  the named pipe at PATH, which gets the plain command line;
//   anything else (the first-start "mIRC" among them): HexChat, and WeeChat when HexChat fails.
class LinuxChatCommandSender final : public ChatCommandSender
{
public:
    void sendDdeCommand(const QString& service, const QString& message) override;

    // The FIFOs WeeChat's fifo plugin creates, in its runtime and data folders.
    static QStringList weechatFifos();

private:
    void sendToHexChat(const QString& message, bool thenWeechat);
    static void sendToWeechat(const QString& message);

    HexChatRemote m_hexChat;
};
