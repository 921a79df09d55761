#pragma once

#include <QString>

// Passes a command line such as "/Sentrel 10.0.0.5 23" to a running chat client. Nothing is
// reported back and nothing waits: a client that is not running or is busy misses the command.
class ChatCommandSender
{
public:
    virtual ~ChatCommandSender() = default;

    // service: the user's name for the link to use (the "DDE Service" text).
    virtual void sendCommand(const QString& service, const QString& message) = 0;
};
