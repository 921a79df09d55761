#pragma once

#include "SystemLog.h"

#include <QByteArray>

#include <chrono>
#include <ctime>

// The local system log under the name "sentrel" with the process id, facility LOG_AUTHPRIV:
// intrusions are security events, and that facility keeps the addresses out of logs every user
// may read. Messages go to the log socket in the form syslog(3) sends them.
//
// Written here rather than through syslog(3), which tries to connect again on every message when
// no daemon listens: a flood of intrusions then paid a socket, a connect and a close for each one.
// Here a missing daemon is looked for again at most once per retry interval; messages in between
// are dropped, as syslog(3) drops them while nobody listens, and counted. A daemon that restarts is
// reconnected to at once, within the message that found it gone.
//
// Unlike syslog(3), nothing here ever waits for the daemon: one that stalls, restarts slowly or
// is over its rate limit would otherwise freeze the whole alarm inside a send. The socket is
// non-blocking; what the daemon cannot take at once is dropped and counted, and the count goes
// back with the first message it takes again.
class PosixSystemLog final : public SystemLog
{
public:
    explicit PosixSystemLog(QByteArray socketPath = "/dev/log",
        std::chrono::milliseconds retryInterval = std::chrono::seconds(1));
    ~PosixSystemLog() override;

    void open() override;
    void close() override;
    [[nodiscard]] quint64 write(Level level, const QByteArray& message) override;

    bool isConnected() const { return m_fd >= 0; }

private:
    enum class Sent { Yes, Busy, Broken };

    bool connectSocket();
    void disconnect();
    Sent send(const QByteArray& datagram);
    const QByteArray& stamp();

    QByteArray m_socketPath;
    std::chrono::milliseconds m_retryInterval;
    bool m_open = false;
    int m_fd = -1;
    bool m_stream = false; // a stream socket ends every message with a NUL
    quint64 m_lostUnreported = 0;
    std::chrono::steady_clock::time_point m_nextAttempt {};
    QByteArray m_tag;

    std::time_t m_stampSecond = -1;
    QByteArray m_stamp;
};
