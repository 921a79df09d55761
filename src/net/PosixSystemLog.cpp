#include "PosixSystemLog.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>
#include <utility>

namespace {
constexpr int Facility = LOG_AUTHPRIV;

int priorityOf(SystemLog::Level level)
{
    switch (level) {
    case SystemLog::Level::Warning:
        return Facility | LOG_WARNING;
    case SystemLog::Level::Notice:
        return Facility | LOG_NOTICE;
    case SystemLog::Level::Info:
        break;
    }
    return Facility | LOG_INFO;
}

int connectTo(const QByteArray& path, int type)
{
    sockaddr_un address {};
    if (std::size_t(path.size()) >= sizeof address.sun_path)
        return -1;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), std::size_t(path.size()));
    // Non-blocking from the start: a stream daemon whose backlog is full refuses at once.
    const int fd = ::socket(AF_UNIX, type | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

ssize_t sendNow(int fd, const char* data, std::size_t size)
{
    for (;;) {
        const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent >= 0 || errno != EINTR)
            return sent;
    }
}
} // namespace

PosixSystemLog::PosixSystemLog(QByteArray socketPath, std::chrono::milliseconds retryInterval)
    : m_socketPath(std::move(socketPath))
    , m_retryInterval(retryInterval)
    , m_tag("sentrel[" + QByteArray::number(::getpid()) + "]: ")
{
}

PosixSystemLog::~PosixSystemLog()
{
    close();
}

void PosixSystemLog::open()
{
    if (m_open)
        return;
    m_open = true;
    // Connect now, so the first intrusion does not pay for it.
    m_nextAttempt = {};
    connectSocket();
}

void PosixSystemLog::close()
{
    disconnect();
    m_open = false;
}

quint64 PosixSystemLog::write(Level level, const QByteArray& message)
{
    if (!m_open)
        return 0;
    // No daemon, and too soon to look for one again: the message is lost before it is built.
    if (m_fd < 0 && !connectSocket()) {
        ++m_lostUnreported;
        return 0;
    }
    QByteArray datagram;
    datagram.reserve(message.size() + 48);
    datagram += '<';
    datagram += QByteArray::number(priorityOf(level));
    datagram += '>';
    datagram += stamp();
    datagram += m_tag;
    datagram += message;
    Sent sent = send(datagram);
    if (sent == Sent::Broken) {
        // The daemon may have restarted: one new connection, as syslog(3) tries.
        disconnect();
        if (connectSocket())
            sent = send(datagram);
    }
    if (sent != Sent::Yes) {
        ++m_lostUnreported;
        return 0;
    }
    return std::exchange(m_lostUnreported, 0);
}

bool PosixSystemLog::connectSocket()
{
    if (m_fd >= 0)
        return true;
    const auto now = std::chrono::steady_clock::now();
    if (now < m_nextAttempt)
        return false;
    m_stream = false;
    m_fd = connectTo(m_socketPath, SOCK_DGRAM);
    if (m_fd < 0 && errno == EPROTOTYPE) {
        m_fd = connectTo(m_socketPath, SOCK_STREAM);
        m_stream = m_fd >= 0;
    }
    // Only a failed attempt waits for the next: a daemon that restarts is found again at once.
    m_nextAttempt = m_fd >= 0 ? std::chrono::steady_clock::time_point {} : now + m_retryInterval;
    return m_fd >= 0;
}

void PosixSystemLog::disconnect()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

PosixSystemLog::Sent PosixSystemLog::send(const QByteArray& datagram)
{
    if (m_fd < 0)
        return Sent::Broken;
    // On a stream socket the terminating NUL every QByteArray holds goes too.
    const std::size_t size = std::size_t(datagram.size()) + (m_stream ? 1 : 0);
    const ssize_t sent = sendNow(m_fd, datagram.constData(), size);
    if (sent < 0) // a full queue or send buffer: the daemon is there but does not read now
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS ? Sent::Busy : Sent::Broken;
    // Only a stream takes part of a message, and only one far longer than these: the rest would
    // run into the next message, so the message goes again on a new connection.
    return std::size_t(sent) == size ? Sent::Yes : Sent::Broken;
}

// "Mmm dd hh:mm:ss " in local time with English month names, as syslog(3) writes it.
const QByteArray& PosixSystemLog::stamp()
{
    const std::time_t now = std::time(nullptr);
    if (now != m_stampSecond) {
        std::tm local {};
        ::localtime_r(&now, &local);
        static const char months[][4]
            = { "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec" };
        char text[32];
        std::snprintf(text, sizeof text, "%s %2d %02d:%02d:%02d ", months[local.tm_mon % 12], local.tm_mday,
            local.tm_hour, local.tm_min, local.tm_sec);
        m_stamp = text;
        m_stampSecond = now;
    }
    return m_stamp;
}
