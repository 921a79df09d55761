#include "HelperCall.h"

#include <QDeadlineTimer>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
struct OwnedFd
{
    int fd = -1;
    ~OwnedFd()
    {
        if (fd >= 0)
            ::close(fd);
    }
};
} // namespace

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
    return result == 0 ? pid : -result;
}

void reapHelper(pid_t pid, int timeoutMs)
{
    const int pidFd = int(::syscall(SYS_pidfd_open, pid, 0));
    pollfd exited { pidFd, POLLIN, 0 };
    if (pidFd < 0 || ::poll(&exited, 1, std::max(0, timeoutMs)) != 1)
        ::kill(pid, SIGKILL);
    if (pidFd >= 0)
        ::close(pidFd);
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) { }
}

HelperReply callHelper(const QString& path, const std::uint8_t* request, std::size_t size,
    std::size_t maxReply, std::size_t maxFds, int timeoutMs)
{
    HelperReply result;
    int pair[2];
    if (path.isEmpty()) {
        result.startError = ENOENT;
        return result;
    }
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
        result.startError = errno;
        return result;
    }
    OwnedFd channel { pair[0] };
    OwnedFd helperEnd { pair[1] };
    const pid_t pid = spawnHelper(QFile::encodeName(path), helperEnd.fd);
    if (pid <= 0) {
        result.startError = pid < 0 ? -pid : ECHILD;
        return result;
    }
    ::close(std::exchange(helperEnd.fd, -1));

    const QDeadlineTimer deadline(timeoutMs);
    // One byte more than the longest reply, so a longer one is seen and refused.
    result.bytes.resize(maxReply + 1);
    std::vector<char> control(CMSG_SPACE(sizeof(int) * maxFds));
    ssize_t got = -1;
    msghdr message {};
    if (::send(channel.fd, request, size, MSG_NOSIGNAL) > 0) {
        pollfd ready { channel.fd, POLLIN, 0 };
        if (::poll(&ready, 1, int(deadline.remainingTime())) == 1) {
            iovec part { result.bytes.data(), result.bytes.size() };
            message.msg_iov = &part;
            message.msg_iovlen = 1;
            message.msg_control = control.data();
            message.msg_controllen = control.size();
            got = ::recvmsg(channel.fd, &message, MSG_CMSG_CLOEXEC | MSG_DONTWAIT);
        }
    }
    for (cmsghdr* header = got >= 0 ? CMSG_FIRSTHDR(&message) : nullptr; header;
         header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS)
            continue;
        const std::size_t count = (header->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (std::size_t i = 0; i < count; ++i) {
            int fd = -1;
            std::memcpy(&fd, CMSG_DATA(header) + i * sizeof(int), sizeof fd);
            result.fds.push_back(fd);
        }
    }
    reapHelper(pid, int(deadline.remainingTime()));
    result.answered = got >= 0 && std::size_t(got) <= maxReply && (message.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) == 0;
    result.bytes.resize(result.answered ? std::size_t(got) : 0);
    return result;
}
