#include "Loopback.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Loopback {

namespace {
// A dual-stack socket bound to the port on every interface; with SO_REUSEADDR only a listening
// socket refuses it, not connections lingering in TIME_WAIT.
int bindAny(int port, int& error)
{
    const int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    const int off = 0;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    sockaddr_in6 address {};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_any;
    address.sin6_port = htons(uint16_t(port));
    error = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 ? 0 : errno;
    return fd;
}
} // namespace

std::vector<int> freePorts(int count)
{
    std::vector<int> fds;
    std::vector<int> ports;
    for (int i = 0; i < count; ++i) {
        int error = 0;
        fds.push_back(bindAny(0, error));
        sockaddr_in6 address {};
        socklen_t length = sizeof address;
        ::getsockname(fds.back(), reinterpret_cast<sockaddr*>(&address), &length);
        ports.push_back(ntohs(address.sin6_port));
    }
    closeAll(fds);
    return ports;
}

int connectTo(int port, bool ipv6, bool wait)
{
    const int fd = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in6 in6 {};
    in6.sin6_family = AF_INET6;
    in6.sin6_addr = in6addr_loopback;
    in6.sin6_port = htons(uint16_t(port));
    sockaddr_in in4 {};
    in4.sin_family = AF_INET;
    in4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    in4.sin_port = htons(uint16_t(port));
    const int result = ipv6 ? ::connect(fd, reinterpret_cast<sockaddr*>(&in6), sizeof in6)
                            : ::connect(fd, reinterpret_cast<sockaddr*>(&in4), sizeof in4);
    pollfd entry { fd, POLLOUT, 0 };
    int error = result == 0 || errno == EINPROGRESS ? 0 : errno;
    socklen_t length = sizeof error;
    if (wait && error == 0
        && (::poll(&entry, 1, 2000) != 1 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0))
        error = ETIMEDOUT;
    if (error != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool closedByServer(int fd)
{
    pollfd entry { fd, POLLIN, 0 };
    char byte = 0;
    return ::poll(&entry, 1, 2000) == 1 && ::recv(fd, &byte, 1, 0) <= 0;
}

int holdPort(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 8) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool isListening(int port)
{
    int error = 0;
    ::close(bindAny(port, error));
    return error == EADDRINUSE;
}

void closeAll(std::vector<int>& fds)
{
    for (const int fd : fds)
        ::close(fd);
    fds.clear();
}

} // namespace Loopback
