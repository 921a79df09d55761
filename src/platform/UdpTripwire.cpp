#include "UdpTripwire.h"

#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// Datagrams taken per system call, and how long one wake-up may read before the window gets its
// turn again (the notifier is level-triggered: what is left wakes it on the next pass).
constexpr unsigned Batch = 32;
constexpr auto ReadSlice = std::chrono::milliseconds(10);
} // namespace

UdpTripwire::UdpTripwire(QObject* parent)
    : QObject(parent)
    , m_notifier(new QSocketNotifier(QSocketNotifier::Read, this))
{
    m_notifier->setEnabled(false);
    connect(m_notifier, &QSocketNotifier::activated, this, &UdpTripwire::readPending);
}

UdpTripwire::~UdpTripwire()
{
    close();
}

UdpTripwire::ListenResult UdpTripwire::open(int port)
{
    close();
    if (port < 1 || port > 65535)
        return ListenResult::OtherError;
    bool dualStack = true;
    int fd = ::socket(AF_INET6, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0 && errno == EAFNOSUPPORT) {
        dualStack = false;
        fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    }
    if (fd < 0)
        return ListenResult::OtherError;
    const int on = 1;
    const int off = 0;
    // The kernel then tells with each datagram how many it dropped so far.
    ::setsockopt(fd, SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on);

    sockaddr_storage address {};
    socklen_t length = 0;
    if (dualStack) {
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&address);
        in6->sin6_family = AF_INET6;
        in6->sin6_addr = in6addr_any;
        in6->sin6_port = htons(quint16(port));
        length = sizeof(sockaddr_in6);
    } else {
        auto* in4 = reinterpret_cast<sockaddr_in*>(&address);
        in4->sin_family = AF_INET;
        in4->sin_addr.s_addr = htonl(INADDR_ANY);
        in4->sin_port = htons(quint16(port));
        length = sizeof(sockaddr_in);
    }
    // No SO_REUSEADDR: on UDP it would let this socket share a port a service already serves.
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
        const int error = errno;
        ::close(fd);
        return ListeningSocket::resultOf(error);
    }
    m_fd = fd;
    m_port = port;
    m_dropped = m_droppedTaken = 0;
    m_notifier->setSocket(fd);
    m_notifier->setEnabled(true);
    return ListenResult::Ok;
}

void UdpTripwire::close()
{
    m_notifier->setEnabled(false);
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

void UdpTripwire::readPending()
{
    // One byte of room each: the payload is never looked at, and the rest of it is discarded.
    std::array<char, Batch> bytes {};
    std::array<iovec, Batch> iov {};
    std::array<sockaddr_storage, Batch> peers {};
    std::array<std::array<char, CMSG_SPACE(sizeof(std::uint32_t))>, Batch> controls {};
    std::array<mmsghdr, Batch> messages {};
    const auto started = std::chrono::steady_clock::now();
    const int fd = m_fd;
    while (fd >= 0 && m_fd == fd) {
        for (unsigned i = 0; i < Batch; ++i) {
            iov[i] = { &bytes[i], 1 };
            messages[i].msg_hdr = {};
            messages[i].msg_hdr.msg_name = &peers[i];
            messages[i].msg_hdr.msg_namelen = sizeof peers[i];
            messages[i].msg_hdr.msg_iov = &iov[i];
            messages[i].msg_hdr.msg_iovlen = 1;
            messages[i].msg_hdr.msg_control = controls[i].data();
            messages[i].msg_hdr.msg_controllen = controls[i].size();
        }
        const int count = ::recvmmsg(fd, messages.data(), Batch, MSG_DONTWAIT, nullptr);
        if (count <= 0)
            return; // empty, or an error the next datagram will not have: nothing to retry now
        for (int i = 0; i < count; ++i) {
            msghdr& header = messages[std::size_t(i)].msg_hdr;
            for (cmsghdr* c = CMSG_FIRSTHDR(&header); c; c = CMSG_NXTHDR(&header, c)) {
                if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_RXQ_OVFL)
                    std::memcpy(&m_dropped, CMSG_DATA(c), sizeof m_dropped);
            }
        }
        // Reported after the batch is read: a receiver may close this tripwire.
        for (int i = 0; i < count && m_fd == fd; ++i) {
            int peerPort = 0;
            const QString peer = ListeningSocket::peerText(peers[std::size_t(i)], &peerPort);
            emit datagramReceived(peer, m_port, peerPort);
        }
        if (unsigned(count) < Batch || std::chrono::steady_clock::now() - started >= ReadSlice)
            return;
    }
}
