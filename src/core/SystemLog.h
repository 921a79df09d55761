#pragma once

#include <QByteArray>

// The local system log, which journald or a syslog daemon collects and may forward.
class SystemLog
{
public:
    enum class Level { Warning, Notice, Info };

    virtual ~SystemLog() = default;
    virtual void open() = 0;
    virtual void close() = 0;
    // Never waits for the daemon: a message it cannot take at once is lost and counted. Returns,
    // with the first message that goes out after such losses, how many there were; 0 otherwise,
    // so the caller reports each loss once.
    [[nodiscard]] virtual quint64 write(Level level, const QByteArray& message) = 0;
};
