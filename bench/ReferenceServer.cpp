// The least any intrusion recorder has to do, as fast as it can be done: accept every pending
// connection, read the peer's address, append one line to a file, close. Its figures are the
// ceiling the benchmark measures the real program against.
//
//   sentrel-refserver --ports 41001,41002 --out /tmp/records.txt
//
// Listens on 127.0.0.1 and ::1 only. Runs until SIGTERM or SIGINT.

#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <sstream>
#include <string>
#include <sys/epoll.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

struct Listener
{
    int fd;
    uint16_t port;
};

constexpr uint32_t SignalToken = UINT32_MAX;

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "sentrel-refserver: %s: %s\n", what, std::strerror(errno));
    std::exit(1);
}

int openListener(int family, uint16_t port)
{
    const int fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_storage address {};
    socklen_t length = 0;
    if (family == AF_INET6) {
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&address);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(port);
        in6->sin6_addr = in6addr_loopback;
        length = sizeof *in6;
    } else {
        auto* in4 = reinterpret_cast<sockaddr_in*>(&address);
        in4->sin_family = AF_INET;
        in4->sin_port = htons(port);
        in4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        length = sizeof *in4;
    }
    // The kernel caps the backlog at net.core.somaxconn; asking for the most takes whatever it allows.
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(fd, INT_MAX) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void appendPeer(std::string& out, const sockaddr_storage& peer, uint16_t localPort)
{
    char text[INET6_ADDRSTRLEN] = "?";
    uint16_t peerPort = 0;
    if (peer.ss_family == AF_INET) {
        const auto* in4 = reinterpret_cast<const sockaddr_in*>(&peer);
        ::inet_ntop(AF_INET, &in4->sin_addr, text, sizeof text);
        peerPort = ntohs(in4->sin_port);
    } else if (peer.ss_family == AF_INET6) {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&peer);
        ::inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text);
        peerPort = ntohs(in6->sin6_port);
    }
    char line[INET6_ADDRSTRLEN + 32];
    const int length = std::snprintf(line, sizeof line, "%s %u %u\n", text, peerPort, localPort);
    out.append(line, size_t(length));
}

class ReferenceServer
{
public:
    ReferenceServer(const std::vector<uint16_t>& ports, int outFd)
        : m_out(outFd)
    {
        m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
        for (const uint16_t port : ports) {
            for (const int family : { AF_INET, AF_INET6 }) {
                const int fd = openListener(family, port);
                if (fd < 0 && family == AF_INET)
                    fail("listen");
                if (fd < 0)
                    continue;
                watch(fd, uint32_t(m_listeners.size()));
                m_listeners.push_back({ fd, port });
            }
        }
        m_spare = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    }

    void run(int signalFd)
    {
        watch(signalFd, SignalToken);
        epoll_event events[64];
        for (;;) {
            const int ready = ::epoll_wait(m_epoll, events, 64, -1);
            for (int i = 0; i < ready; ++i) {
                if (events[i].data.u32 == SignalToken) {
                    flush();
                    return;
                }
                acceptAll(m_listeners[events[i].data.u32]);
            }
            // One write per wake-up: the records reach the file before the next wait.
            flush();
        }
    }

    long accepted() const { return m_accepted; }

private:
    void watch(int fd, uint32_t token)
    {
        epoll_event event {};
        event.events = EPOLLIN;
        event.data.u32 = token;
        ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event);
    }

    void acceptAll(const Listener& listener)
    {
        for (;;) {
            sockaddr_storage peer {};
            socklen_t length = sizeof peer;
            const int fd = ::accept4(listener.fd, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
            if (fd >= 0) {
                ::close(fd);
                appendPeer(m_pending, peer, listener.port);
                ++m_accepted;
                continue;
            }
            if ((errno == EMFILE || errno == ENFILE) && m_spare >= 0) {
                // Out of descriptors: free the spare for one accept, so the queue keeps moving
                // instead of waking us up forever.
                ::close(m_spare);
                const int rescued = ::accept4(listener.fd, reinterpret_cast<sockaddr*>(&peer), &length, 0);
                if (rescued >= 0) {
                    ::close(rescued);
                    appendPeer(m_pending, peer, listener.port);
                    ++m_accepted;
                }
                m_spare = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
                continue;
            }
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            return; // EAGAIN: the queue is empty
        }
    }

    void flush()
    {
        size_t done = 0;
        while (done < m_pending.size()) {
            const ssize_t wrote = ::write(m_out, m_pending.data() + done, m_pending.size() - done);
            if (wrote <= 0 && errno != EINTR)
                break;
            if (wrote > 0)
                done += size_t(wrote);
        }
        m_pending.clear();
    }

    std::vector<Listener> m_listeners;
    std::string m_pending;
    int m_epoll = -1;
    int m_out = -1;
    int m_spare = -1;
    long m_accepted = 0;
};

std::vector<uint16_t> parsePorts(const char* text)
{
    std::vector<uint16_t> ports;
    std::stringstream stream(text);
    std::string item;
    while (std::getline(stream, item, ',')) {
        const long port = std::strtol(item.c_str(), nullptr, 10);
        if (port < 1 || port > 65535) {
            std::fprintf(stderr, "sentrel-refserver: bad port %s\n", item.c_str());
            std::exit(2);
        }
        ports.push_back(uint16_t(port));
    }
    return ports;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<uint16_t> ports;
    const char* outPath = nullptr;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--ports") == 0)
            ports = parsePorts(argv[i + 1]);
        else if (std::strcmp(argv[i], "--out") == 0)
            outPath = argv[i + 1];
    }
    if (ports.empty() || !outPath) {
        std::fprintf(stderr, "usage: sentrel-refserver --ports P[,P...] --out FILE\n");
        return 2;
    }

    // Blocked first, so a SIGTERM that arrives early waits in the signalfd instead of killing us.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    ::sigprocmask(SIG_BLOCK, &stop, nullptr);
    const int signalFd = ::signalfd(-1, &stop, SFD_CLOEXEC);

    const int out = ::open(outPath, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (out < 0)
        fail("open output");
    ReferenceServer server(ports, out);
    std::printf("listening on %zu ports\n", ports.size());
    std::fflush(stdout);
    server.run(signalFd);
    std::printf("accepted %ld\n", server.accepted());
    ::close(out);
    return 0;
}
