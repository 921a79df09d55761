#pragma once

#include "ListeningSocket.h"

#include <algorithm>
#include <list>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

// Raw loopback clients and port probes. Descriptors they return are the caller's to close.
namespace Loopback {

inline int newClient()
{
    return ::socket(AF_INET6, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
}

// Probed by binding as a listener does (TIME_WAIT does not refuse it), on any interface, not by connecting.
inline bool isListening(int port)
{
    ListeningSocket probe;
    probe.setLocalPort(port);
    return probe.listen() == ListeningSocket::ListenResult::InUse;
}

struct Clients : std::vector<int> // client descriptors, closed when it goes
{
    using std::vector<int>::vector;
    ~Clients() { std::for_each(begin(), end(), ::close); }
};

// Distinct ports nothing listens on right now, picked by the system.
inline std::vector<int> freePorts(int count)
{
    std::list<ListeningSocket> held(static_cast<std::size_t>(count));
    std::vector<int> ports;
    for (ListeningSocket& socket : held)
        ports.push_back(socket.listen() == ListeningSocket::ListenResult::Ok ? socket.localPort() : -1);
    return ports;
}

// Starts connecting to 127.0.0.1 (an IPv4 peer, as ::ffff:127.0.0.1) or to ::1; false when refused.
inline bool startConnect(int fd, int port, bool ipv6 = false)
{
    sockaddr_in6 to { AF_INET6, htons(uint16_t(port)), 0, {}, 0 };
    ::inet_pton(AF_INET6, ipv6 ? "::1" : "::ffff:127.0.0.1", &to.sin6_addr);
    return ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0 || errno == EINPROGRESS;
}

// An established connection, or -1.
inline int connectTo(int port, bool ipv6 = false)
{
    const int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (startConnect(fd, port, ipv6))
        return fd;
    ::close(fd);
    return -1;
}

// The local port a socket is bound to, or -1.
inline int localPort(int fd)
{
    sockaddr_in6 local {};
    socklen_t size = sizeof local;
    return ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size) == 0 ? ntohs(local.sin6_port) : -1;
}

// True when the server closes the connection (end of stream or reset) without sending a byte.
inline bool closedByServer(int fd)
{
    pollfd entry { fd, POLLIN, 0 };
    char byte = 0;
    return ::poll(&entry, 1, 2000) == 1 && ::recv(fd, &byte, 1, 0) <= 0;
}

} // namespace Loopback
