#include "UdpTripwire.h"

#include "WildcardSocket.h"

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
    // No SO_REUSEADDR: on UDP it would let this socket share a port a service already serves.
    const int fd = bindWildcardSocket(SOCK_DGRAM, port, false);
    if (fd < 0)
        return ListeningSocket::resultOf(errno);
    return adopt(fd, port);
}

UdpTripwire::ListenResult UdpTripwire::adopt(int fd, int port)
{
    close();
    if (fd < 0)
        return ListenResult::OtherError;
    // The kernel then tells with each datagram how many it dropped so far.
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on);
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
            const IpAddress peer = ListeningSocket::peerAddress(peers[std::size_t(i)], &peerPort);
            emit datagramReceived(peer, m_port, peerPort);
        }
        if (unsigned(count) < Batch || std::chrono::steady_clock::now() - started >= ReadSlice)
            return;
    }
}
