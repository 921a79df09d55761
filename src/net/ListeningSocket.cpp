#include "ListeningSocket.h"

#include "WildcardSocket.h"

#include <QSocketNotifier>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// The kernel caps the backlog at net.core.somaxconn; asking for more gets the largest queue the
// system allows, so a burst waits in the queue instead of being refused.
constexpr int Backlog = 65535;

// How long one readiness event may accept before the window gets its turn again. The notifier is
// level-triggered, so whatever is still queued wakes it on the next pass.
constexpr auto AcceptSlice = std::chrono::milliseconds(10);

// When no descriptor can be had at all, how long to leave the queue alone before trying again.
constexpr int RetryAfterMs = 100;

int openSpare()
{
    return ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

void closeFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}
} // namespace

ListeningSocket::ListeningSocket(QObject* parent)
    : QObject(parent)
    , m_notifier(new QSocketNotifier(QSocketNotifier::Read, this))
{
    m_notifier->setEnabled(false);
    connect(m_notifier, &QSocketNotifier::activated, this, &ListeningSocket::acceptPending);
    m_retry.setSingleShot(true);
    m_retry.setInterval(RetryAfterMs);
    connect(&m_retry, &QTimer::timeout, this, &ListeningSocket::resume);
}

ListeningSocket::~ListeningSocket()
{
    close();
}

ListeningSocket::ListenResult ListeningSocket::listen()
{
    close();
    if (m_localPort < 0 || m_localPort > 65535)
        return ListenResult::OtherError;

    const int fd = bindWildcardSocket(SOCK_STREAM, m_localPort, true);
    if (fd < 0)
        return resultOf(errno);
    if (::listen(fd, Backlog) != 0) {
        const int error = errno;
        ::close(fd);
        return resultOf(error);
    }

    start(fd);
    return ListenResult::Ok;
}

ListeningSocket::ListenResult ListeningSocket::adopt(int fd)
{
    close();
    if (fd < 0)
        return ListenResult::OtherError;
    // The same queue length as our own listeners get.
    ::listen(fd, Backlog);
    start(fd);
    return ListenResult::Ok;
}

bool ListeningSocket::hasWaiting() const
{
    pollfd entry { m_fd, POLLIN, 0 };
    return m_fd >= 0 && ::poll(&entry, 1, 0) == 1 && (entry.revents & POLLIN);
}

void ListeningSocket::start(int fd)
{
    sockaddr_storage address {};
    socklen_t length = sizeof address;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        m_localPort = address.ss_family == AF_INET6
            ? ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port)
            : ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
    }
    m_fd = fd;
    m_spareFd = openSpare();
    m_notifier->setSocket(fd);
    m_notifier->setEnabled(true);
}

void ListeningSocket::close()
{
    m_retry.stop();
    m_notifier->setEnabled(false);
    closeFd(m_fd);
    closeFd(m_spareFd);
}

void ListeningSocket::acceptPending()
{
    const auto started = std::chrono::steady_clock::now();
    const int fd = m_fd;
    // A receiver may close or re-arm this socket while it handles a connection: stop then.
    while (fd >= 0 && m_fd == fd) {
        sockaddr_storage peer {};
        socklen_t length = sizeof peer;
        const int connection = ::accept4(fd, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
        if (connection >= 0) {
            // Dropped before anything is read: unread data makes the kernel reset the peer.
            ::close(connection);
            reportPeer(peer);
        } else {
            switch (errno) {
            case EAGAIN:
#if EWOULDBLOCK != EAGAIN
            case EWOULDBLOCK:
#endif
                return;
            case EMFILE:
            case ENFILE:
                if (!acceptWithSpare()) {
                    pause();
                    return;
                }
                break;
            case EINTR:
            case ECONNABORTED:
            case EPROTO:
            case ENETDOWN:
            case ENOPROTOOPT:
            case EHOSTDOWN:
            case ENONET:
            case EHOSTUNREACH:
            case EOPNOTSUPP:
            case ENETUNREACH:
                // That one connection is gone; the rest of the queue is still good.
                break;
            default:
                // Out of buffers or memory: retrying at once would only spin.
                pause();
                return;
            }
        }
        if (std::chrono::steady_clock::now() - started >= AcceptSlice)
            return;
    }
}

// Out of descriptors: give up the spare for one accept, so the connection at the head of the
// queue is taken and dropped rather than left to wake us again. False when even that fails.
bool ListeningSocket::acceptWithSpare()
{
    if (m_spareFd < 0)
        m_spareFd = openSpare();
    if (m_spareFd < 0)
        return false;
    closeFd(m_spareFd);

    sockaddr_storage peer {};
    socklen_t length = sizeof peer;
    const int connection = ::accept4(m_fd, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
    const int error = errno;
    if (connection >= 0)
        ::close(connection);
    m_spareFd = openSpare();

    if (connection >= 0) {
        reportPeer(peer);
        return true;
    }
    // Someone else took the freed slot (ENFILE is system-wide): wait rather than spin.
    return error != EMFILE && error != ENFILE;
}

void ListeningSocket::pause()
{
    m_notifier->setEnabled(false);
    m_retry.start();
}

void ListeningSocket::resume()
{
    if (m_fd < 0)
        return;
    if (m_spareFd < 0)
        m_spareFd = openSpare();
    m_notifier->setEnabled(true);
}

ListeningSocket::ListenResult ListeningSocket::resultOf(int error)
{
    switch (error) {
    case EADDRINUSE:
        return ListenResult::InUse;
    case EACCES:
    case EPERM:
        return ListenResult::NeedsPrivileges;
    default:
        return ListenResult::OtherError;
    }
}

void ListeningSocket::reportPeer(const sockaddr_storage& peer)
{
    int peerPort = 0;
    const IpAddress address = peerAddress(peer, &peerPort);
    emit connectionAccepted(address, m_localPort, peerPort);
}

IpAddress ListeningSocket::peerAddress(const sockaddr_storage& peer, int* peerPort)
{
    if (peer.ss_family == AF_INET6) {
        const auto& in6 = reinterpret_cast<const sockaddr_in6&>(peer);
        *peerPort = ntohs(in6.sin6_port);
        return IpAddress::fromIpv6(in6.sin6_addr.s6_addr);
    }
    if (peer.ss_family == AF_INET) {
        const auto& in4 = reinterpret_cast<const sockaddr_in&>(peer);
        *peerPort = ntohs(in4.sin_port);
        return IpAddress::fromIpv4(reinterpret_cast<const std::uint8_t*>(&in4.sin_addr));
    }
    *peerPort = 0;
    return {};
}
