#include "HelperPortBinder.h"

#include <QDeadlineTimer>
#include <QFile>

#include <array>
#include <csignal>
#include <cstdint>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
// The helper's wire format, which it documents at its top.
constexpr std::uint8_t Magic0 = 'S';
constexpr std::uint8_t Magic1 = 'B';
constexpr std::uint8_t Version = 1;
constexpr std::size_t HeaderSize = 4;
constexpr std::size_t EntrySize = 3;
constexpr std::size_t MaxPorts = HelperPortBinder::MaxPortsPerRun;

struct OwnedFd
{
    int fd = -1;
    ~OwnedFd()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

pid_t spawnHelper(const QByteArray& path, int channel)
{
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, channel, STDIN_FILENO);
    char* argv[] = { const_cast<char*>(path.constData()), nullptr };
    // It reads no environment, so it gets none.
    char* envp[] = { nullptr };
    pid_t pid = -1;
    const int result = ::posix_spawn(&pid, path.constData(), &actions, nullptr, argv, envp);
    ::posix_spawn_file_actions_destroy(&actions);
    return result == 0 ? pid : -1;
}

// Waits for the helper to end on its own, ending it when it does not by the deadline.
void reap(pid_t pid, const QDeadlineTimer& deadline)
{
    const int pidFd = int(::syscall(SYS_pidfd_open, pid, 0));
    if (pidFd >= 0) {
        pollfd exited { pidFd, POLLIN, 0 };
        if (::poll(&exited, 1, int(deadline.remainingTime())) != 1)
            ::kill(pid, SIGKILL);
        ::close(pidFd);
    } else {
        ::kill(pid, SIGKILL);
    }
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) { }
}

bool isListeningStream(int fd)
{
    int listening = 0;
    int type = 0;
    socklen_t length = sizeof listening;
    if (::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &length) != 0 || listening != 1)
        return false;
    length = sizeof type;
    if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) != 0 || type != SOCK_STREAM)
        return false;
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

PortBinder::Outcome outcomeOf(std::uint8_t status)
{
    switch (status) {
    case 0:
        return PortBinder::Outcome::Bound;
    case 1:
        return PortBinder::Outcome::InUse;
    case 2:
        return PortBinder::Outcome::NotPermitted;
    default:
        return PortBinder::Outcome::Failed;
    }
}

// Matches the reply against the request; on any mismatch every descriptor is closed and the
// result is empty.
std::vector<PortBinder::Result> decodeReply(
    const std::vector<int>& ports, const std::uint8_t* reply, std::size_t size, std::vector<int> fds)
{
    std::vector<PortBinder::Result> results(ports.size());
    std::size_t next = 0;
    bool valid = size == HeaderSize + EntrySize * ports.size() && reply[0] == Magic0 && reply[1] == Magic1
        && reply[2] == Version && reply[3] == ports.size();
    for (std::size_t i = 0; valid && i < ports.size(); ++i) {
        const std::uint8_t* entry = reply + HeaderSize + EntrySize * i;
        valid = (entry[0] << 8 | entry[1]) == ports[i];
        results[i].outcome = outcomeOf(entry[2]);
        if (valid && results[i].outcome == PortBinder::Outcome::Bound) {
            valid = next < fds.size() && isListeningStream(fds[next]);
            results[i].fd = valid ? fds[next++] : -1;
        }
    }
    if (valid && next == fds.size())
        return results;
    for (const int fd : fds)
        ::close(fd);
    return {};
}
} // namespace

HelperPortBinder::HelperPortBinder(QString helperPath, int timeoutMs)
    : m_helperPath(std::move(helperPath))
    , m_timeoutMs(timeoutMs)
{
}

std::vector<PortBinder::Result> HelperPortBinder::bindPorts(const std::vector<int>& ports)
{
    std::vector<Result> results;
    for (std::size_t start = 0; start < ports.size(); start += MaxPorts) {
        const std::vector<int> run(ports.begin() + std::ptrdiff_t(start),
            ports.begin() + std::ptrdiff_t(std::min(ports.size(), start + MaxPorts)));
        std::vector<Result> answered = runHelper(run);
        answered.resize(run.size());
        results.insert(results.end(), answered.begin(), answered.end());
    }
    return results;
}

std::vector<PortBinder::Result> HelperPortBinder::runHelper(const std::vector<int>& ports)
{
    std::array<std::uint8_t, HeaderSize + 2 * MaxPorts> request { Magic0, Magic1, Version,
        std::uint8_t(ports.size()) };
    for (std::size_t i = 0; i < ports.size(); ++i) {
        if (ports[i] < 1 || ports[i] > 1023)
            return {}; // the helper would refuse the whole run
        request[HeaderSize + 2 * i] = std::uint8_t(ports[i] >> 8);
        request[HeaderSize + 2 * i + 1] = std::uint8_t(ports[i] & 0xff);
    }

    int pair[2];
    if (m_helperPath.isEmpty() || ::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0)
        return {};
    OwnedFd channel { pair[0] };
    OwnedFd helperEnd { pair[1] };
    const pid_t pid = spawnHelper(QFile::encodeName(m_helperPath), helperEnd.fd);
    if (pid < 0)
        return {};
    ::close(std::exchange(helperEnd.fd, -1));

    const QDeadlineTimer deadline(m_timeoutMs);
    std::array<std::uint8_t, HeaderSize + EntrySize * MaxPorts + 1> reply {};
    alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(int) * MaxPorts)> control {};
    ssize_t size = -1;
    std::vector<int> fds;
    msghdr message {};
    if (::send(channel.fd, request.data(), HeaderSize + 2 * ports.size(), MSG_NOSIGNAL) > 0) {
        pollfd ready { channel.fd, POLLIN, 0 };
        if (::poll(&ready, 1, int(deadline.remainingTime())) == 1) {
            iovec part { reply.data(), reply.size() };
            message.msg_iov = &part;
            message.msg_iovlen = 1;
            message.msg_control = control.data();
            message.msg_controllen = control.size();
            size = ::recvmsg(channel.fd, &message, MSG_CMSG_CLOEXEC | MSG_DONTWAIT);
        }
    }
    for (cmsghdr* header = size >= 0 ? CMSG_FIRSTHDR(&message) : nullptr; header;
         header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS)
            continue;
        const std::size_t count = (header->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (std::size_t i = 0; i < count; ++i) {
            int fd = -1;
            std::memcpy(&fd, CMSG_DATA(header) + i * sizeof(int), sizeof fd);
            fds.push_back(fd);
        }
    }
    reap(pid, deadline);
    if (size < 0 || (message.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) != 0) {
        for (const int fd : fds)
            ::close(fd);
        return {};
    }
    return decodeReply(ports, reply.data(), std::size_t(size), std::move(fds));
}
