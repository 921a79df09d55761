#include "PosixSystemLog.h"

#include <syslog.h>

PosixSystemLog::~PosixSystemLog()
{
    close();
}

void PosixSystemLog::open()
{
    if (m_open)
        return;
    // LOG_NDELAY: connect now, so the first intrusion does not pay for it.
    ::openlog("sentrel", LOG_PID | LOG_NDELAY, LOG_AUTHPRIV);
    m_open = true;
}

void PosixSystemLog::close()
{
    if (m_open)
        ::closelog();
    m_open = false;
}

void PosixSystemLog::write(Level level, const QByteArray& message)
{
    if (!m_open)
        return;
    const int priority = level == Level::Warning ? LOG_WARNING
        : level == Level::Notice                 ? LOG_NOTICE
                                                 : LOG_INFO;
    ::syslog(priority, "%s", message.constData());
}
