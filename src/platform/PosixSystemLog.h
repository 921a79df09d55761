#pragma once

#include "SystemLog.h"

// syslog(3) under the name "sentrel" with the process id, facility LOG_AUTHPRIV: intrusions are
// security events, and that facility keeps the addresses out of logs every user may read.
class PosixSystemLog final : public SystemLog
{
public:
    ~PosixSystemLog() override;

    void open() override;
    void close() override;
    void write(Level level, const QByteArray& message) override;

private:
    bool m_open = false;
};
