#include "Loopback.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Loopback {

namespace {
int boundEphemeral()
{
    const int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int off = 0;
    ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    sockaddr_in6 address {};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_any;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    return fd;
}

int portOf(int fd)
{
    sockaddr_in6 address {};
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin6_port);
}
} // namespace

int freePort()
{
    return freePorts(1).front();
}

std::vector<int> freePorts(int count)
{
    std::vector<int> fds;
    std::vector<int> ports;
    for (int i = 0; i < count; ++i) {
        fds.push_back(boundEphemeral());
        ports.push_back(portOf(fds.back()));
    }
    closeAll(fds);
    return ports;
}

int startConnect(int port, bool ipv6)
{
    const int fd = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    int result = 0;
    if (ipv6) {
        sockaddr_in6 address {};
        address.sin6_family = AF_INET6;
        address.sin6_addr = in6addr_loopback;
        address.sin6_port = htons(quint16(port));
        result = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    } else {
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(quint16(port));
        result = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    if (result != 0 && errno != EINPROGRESS) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int connectTo(int port, bool ipv6)
{
    const int fd = startConnect(port, ipv6);
    if (fd < 0)
        return -1;
    pollfd entry { fd, POLLOUT, 0 };
    int error = 0;
    socklen_t length = sizeof error;
    if (::poll(&entry, 1, 2000) != 1 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0
        || error != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool waitForClose(int fd, int timeoutMs)
{
    pollfd entry { fd, POLLIN, 0 };
    if (::poll(&entry, 1, timeoutMs) != 1)
        return false;
    char byte = 0;
    return ::recv(fd, &byte, 1, 0) <= 0;
}

int holdPort(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(quint16(port));
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 8) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool isListening(int port)
{
    // With SO_REUSEADDR only a listening socket refuses the bind; connections the listener has
    // dropped and that linger in TIME_WAIT do not.
    const int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    const int off = 0;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    sockaddr_in6 address {};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_any;
    address.sin6_port = htons(quint16(port));
    const bool taken
        = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 && errno == EADDRINUSE;
    ::close(fd);
    return taken;
}

void closeAll(std::vector<int>& fds)
{
    for (const int fd : fds) {
        if (fd >= 0)
            ::close(fd);
    }
    fds.clear();
}

bool ensureDescriptors(int count)
{
    rlimit limit {};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    if (limit.rlim_cur >= rlim_t(count))
        return true;
    if (limit.rlim_max < rlim_t(count))
        return false;
    limit.rlim_cur = rlim_t(count);
    return ::setrlimit(RLIMIT_NOFILE, &limit) == 0;
}

} // namespace Loopback
