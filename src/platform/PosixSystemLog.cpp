#include "PosixSystemLog.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

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
    const int fd = ::socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
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

void PosixSystemLog::write(Level level, const QByteArray& message)
{
    if (!m_open)
        return;
    QByteArray datagram;
    datagram.reserve(message.size() + 48);
    datagram += '<';
    datagram += QByteArray::number(priorityOf(level));
    datagram += '>';
    datagram += stamp();
    datagram += m_tag;
    datagram += message;
    if (send(datagram))
        return;
    // The daemon may have restarted: one new connection, as syslog(3) tries.
    disconnect();
    if (connectSocket())
        send(datagram);
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

bool PosixSystemLog::send(const QByteArray& datagram)
{
    if (m_fd < 0)
        return false;
    // On a stream socket the terminating NUL every QByteArray holds goes too.
    const std::size_t size = std::size_t(datagram.size()) + (m_stream ? 1 : 0);
    for (;;) {
        const ssize_t sent = ::send(m_fd, datagram.constData(), size, MSG_NOSIGNAL);
        if (sent >= 0)
            return true;
        if (errno != EINTR)
            return false;
    }
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
