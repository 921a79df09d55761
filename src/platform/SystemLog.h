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
    virtual void write(Level level, const QByteArray& message) = 0;
};
