#include "NonBlockingOutput.h"

#include <QDeadlineTimer>
#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

NonBlockingOutput::NonBlockingOutput(int fd, QObject* parent)
    : QObject(parent)
    , m_fd(fd)
{
    struct stat status {};
    if (fd < 0 || ::fstat(fd, &status) != 0) {
        m_fd = -1; // a stream without a descriptor: every line counts as lost
        return;
    }
    if (S_ISSOCK(status.st_mode)) {
        m_socket = true;
    } else if (S_ISFIFO(status.st_mode) || S_ISCHR(status.st_mode)) {
        const QByteArray path = "/proc/self/fd/" + QByteArray::number(fd);
        const int own = ::open(path.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (own >= 0) {
            m_fd = own;
            m_ownFd = true;
        }
    }
    // A regular file is written as it is: a disk does not wait for a reader.
    m_writable = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Write);
    m_writable->setEnabled(false);
    connect(m_writable.get(), &QSocketNotifier::activated, this, &NonBlockingOutput::pump);
}

NonBlockingOutput::~NonBlockingOutput()
{
    m_writable.reset();
    if (m_ownFd)
        ::close(m_fd);
}

void NonBlockingOutput::write(const QByteArray& lines)
{
    if (!m_pending.isEmpty()) {
        if (m_pending.size() + lines.size() > MaxPending)
            m_lost += quint64(lines.count('\n'));
        else
            m_pending += lines;
        pump();
        return;
    }
    // Nothing waits: straight from the caller's buffer, the rest kept.
    const qsizetype sent = send(lines.constData(), lines.size());
    if (sent < 0) {
        m_lost += quint64(lines.count('\n'));
    } else if (sent < lines.size()) {
        m_pending = lines.mid(sent);
        m_writable->setEnabled(true);
    }
}

// How many bytes the descriptor took (0 when it would wait), -1 for an error that will not pass
// (a reader that is gone, a full disk).
qsizetype NonBlockingOutput::send(const char* data, qsizetype size)
{
    if (m_fd < 0)
        return -1;
    qsizetype done = 0;
    while (done < size) {
        const ssize_t n = m_socket
            ? ::send(m_fd, data + done, std::size_t(size - done), MSG_DONTWAIT | MSG_NOSIGNAL)
            : ::write(m_fd, data + done, std::size_t(size - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        return -1;
    }
    return done;
}

void NonBlockingOutput::pump()
{
    const qsizetype sent = send(m_pending.constData(), m_pending.size());
    if (sent < 0) {
        m_lost += quint64(m_pending.count('\n'));
        m_pending.clear();
    } else {
        m_pending.remove(0, sent);
    }
    if (m_writable)
        m_writable->setEnabled(!m_pending.isEmpty());
}

void NonBlockingOutput::drain(std::chrono::milliseconds timeout)
{
    const QDeadlineTimer deadline(timeout);
    while (!m_pending.isEmpty() && !deadline.hasExpired()) {
        pollfd writable { m_fd, POLLOUT, 0 };
        if (::poll(&writable, 1, int(qMax<qint64>(1, deadline.remainingTime()))) <= 0)
            break;
        pump();
    }
}
