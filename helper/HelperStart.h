// HelperStart.h: how every privileged helper starts, kept in one place so it is audited once.
// Plain POSIX and Linux, no library beyond the C++ runtime.
//
// Who may start a helper is the file system's business: the package installs each one
// root:sentrel, mode 0750, with one file capability, so exec itself turns away anyone outside the
// group. Nothing here looks the group up: that would only repeat what exec enforced, and would load
// the user database's modules into a privileged process.
//
// Every helper, in this order:
//  1. start(): standard output and error open, no arguments, standard input one end of a Unix
//     SOCK_SEQPACKET socket pair; every other inherited descriptor closed; of the capabilities only
//     the one the helper needs kept; then its one request, bounded in size and time;
//  2. its own work, with that one capability;
//  3. dropCapabilities(), before a byte of the reply is written.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include <fcntl.h>
#include <linux/capability.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace sentrel_helper {

// Exit codes, after sysexits.h.
enum Exit {
    Served = 0,
    Usage = 64,
    BadRequest = 65,
    NoRequest = 66,
    Internal = 70,
    BadDescriptors = 71,
    ReplyFailed = 74,
};

// How long a caller may take to send its request before the helper gives up on it.
constexpr int RequestTimeoutMs = 5000;

// Said on standard error, which is the caller's log: where an administrator looks.
inline int fail(const char* helper, int code, const char* what)
{
    std::fprintf(stderr, "%s: %s\n", helper, what);
    return code;
}

inline bool isOpen(int fd)
{
    return ::fcntl(fd, F_GETFD) != -1;
}

inline bool isSeqpacketPair(int fd)
{
    int domain = 0;
    int type = 0;
    socklen_t length = sizeof domain;
    if (::getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &length) != 0)
        return false;
    length = sizeof type;
    if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) != 0)
        return false;
    return domain == AF_UNIX && type == SOCK_SEQPACKET;
}

// Keeps, of the effective and permitted sets, only the capabilities in keep (a bit each), empties
// the inheritable and ambient sets, and checks with the kernel that nothing else is left. Lowering
// needs no privilege, so this cannot fail for want of one.
inline bool limitCapabilities(std::uint64_t keep)
{
    ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    __user_cap_header_struct header {};
    header.version = _LINUX_CAPABILITY_VERSION_3;
    std::array<__user_cap_data_struct, _LINUX_CAPABILITY_U32S_3> data {};
    if (::syscall(SYS_capget, &header, data.data()) != 0)
        return false;
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i].effective &= std::uint32_t(keep >> 32 * i);
        data[i].permitted &= std::uint32_t(keep >> 32 * i);
        data[i].inheritable = 0;
    }
    if (::syscall(SYS_capset, &header, data.data()) != 0 || ::syscall(SYS_capget, &header, data.data()) != 0)
        return false;
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (((data[i].effective | data[i].permitted) & ~std::uint32_t(keep >> 32 * i)) != 0 || data[i].inheritable != 0)
            return false;
    }
    return true;
}

// Gives up every capability for good: after this the process can no more than its user, and no
// program it could start would gain any.
inline bool dropCapabilities()
{
    return limitCapabilities(0) && ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0;
}

// Receives the one request into room for the largest valid one. A longer message arrives cut
// (MSG_TRUNC) and one carrying descriptors arrives without them (MSG_CTRUNC: there is no room for
// any); both are refused whole. Otherwise why(bytes, size) judges it: nullptr, or why it is refused.
template <std::size_t Largest, typename Judge> int readRequest(const char* helper, Judge&& why)
{
    pollfd ready { STDIN_FILENO, POLLIN, 0 };
    if (::poll(&ready, 1, RequestTimeoutMs) != 1)
        return fail(helper, NoRequest, "no request arrived");
    std::array<std::uint8_t, Largest> buffer {};
    iovec part { buffer.data(), buffer.size() };
    msghdr message {};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    const ssize_t size = ::recvmsg(STDIN_FILENO, &message, MSG_CMSG_CLOEXEC);
    if (size <= 0)
        return fail(helper, NoRequest, "no request arrived");
    if ((message.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) != 0)
        return fail(helper, BadRequest, "refused: request too large or carrying descriptors");
    if (const char* refusal = why(buffer.data(), std::size_t(size))) {
        std::fprintf(stderr, "%s: refused: %s\n", helper, refusal);
        return BadRequest;
    }
    return Served;
}

// Everything a helper does before its own work: Served when it may go on with the request why
// accepted, holding no capability but the one numbered capability; else the exit code to end with.
template <std::size_t Largest, typename Judge> int start(const char* helper, int argc, int capability, Judge&& why)
{
    // Without open standard streams a socket made here could become someone's standard output.
    if (!isOpen(STDOUT_FILENO) || !isOpen(STDERR_FILENO))
        return BadDescriptors;
    if (argc != 1)
        return fail(helper, Usage, "takes no arguments; the program that needs it starts it");
    if (!isOpen(STDIN_FILENO) || !isSeqpacketPair(STDIN_FILENO))
        return fail(helper, BadDescriptors, "standard input must be a Unix SOCK_SEQPACKET socket");
    // Nothing else inherited stays open: whatever the caller left behind is none of our business.
    ::syscall(SYS_close_range, 3U, ~0U, 0U);
    // Started by root, or with more than its file grants, it still holds only its own capability.
    if (!limitCapabilities(std::uint64_t(1) << capability))
        return fail(helper, Internal, "could not give up the capabilities it does not need");
    return readRequest<Largest>(helper, why);
}

} // namespace sentrel_helper
