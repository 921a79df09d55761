// sentrel-bind: opens TCP listening sockets or UDP sockets on ports below 1024 for the user who
// starts it and hands them back as descriptors. It is installed with the single file capability
// cap_net_bind_service, so it is the only code of the program that holds a privilege. It is kept
// to this file and the start every helper shares (HelperStart.h), with no library beyond the C++
// runtime, so that it can be read in one sitting.
// Who may run it is the file system's business: the package makes it root:sentrel, mode 0750.
// Which ports it binds is the administrator's: only those in the port list.
//
// What it does, and all it does:
//  - its standard input must be one end of a Unix SOCK_SEQPACKET socket pair; standard output and
//    standard error must be open (so no socket it makes can land on them);
//  - it reads one request of at most 64 ports, each from 1 to 1023, all TCP or all UDP, and
//    refuses anything else;
//  - it reads the port list, /etc/sentrel/bind-ports (fixed when it is built): port numbers
//    separated by white space, "#" to the end of a line a comment. The list counts only when it
//    and its folder belong to root and no one else may write them; otherwise, or when the list has
//    a mistake, no port is allowed. A port not on the list is answered NotPermitted. The list names
//    port numbers: a listed port may be had over either protocol;
//  - it binds one socket per listed port on the wildcard address (dual stack where the kernel has
//    IPv6), non-blocking: TCP ones listening, UDP ones only bound;
//  - it drops every capability, then replies with one status per port and the bound sockets as
//    SCM_RIGHTS descriptors, and exits.
// It takes no arguments, reads no environment, opens no file but the list and starts no program.
// Whatever it does, a user holding cap_net_bind_service could already do, and less.
//
// Request: 'S' 'B' 1 count, then count ports as 16-bit big-endian numbers: TCP listeners.
//          'S' 'B' 2 count kind, then the ports as above: kind 0 TCP listeners, 1 UDP sockets.
//          Version 1 stays what it always was, so a client that knows no UDP is served as before,
//          and a helper that knows no UDP refuses a version 2 request instead of misreading it.
// Reply:   'S' 'B' version count, with the request's version, then per port: the port (16-bit
//          big-endian) and its status.
//          One descriptor rides along for each port whose status is Bound, in request order.

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "HelperStart.h"

// Test builds shift every bound port by this much, so the protocol can be exercised without the
// privilege; the installed helper is always built with 0.
#ifndef SENTREL_BIND_PORT_OFFSET
#define SENTREL_BIND_PORT_OFFSET 0
#endif
// The port list's folder and name, fixed at build time: nothing the caller controls may point
// the helper at another list.
#ifndef SENTREL_BIND_LIST_DIR
#define SENTREL_BIND_LIST_DIR "/etc/sentrel"
#endif
#define SENTREL_BIND_LIST_NAME "bind-ports"
// Test builds (whose ports are shifted out of the privileged range) also trust a list that
// belongs to the user running them, so the suite can write one without root.
#ifndef SENTREL_BIND_LIST_MAY_BE_CALLERS
#define SENTREL_BIND_LIST_MAY_BE_CALLERS 0
#endif

namespace sentrel_bind {

constexpr std::uint8_t Magic0 = 'S';
constexpr std::uint8_t Magic1 = 'B';
constexpr std::uint8_t Version = 1; // TCP only, no kind byte
constexpr std::uint8_t KindVersion = 2; // a kind byte after the count
constexpr std::size_t HeaderSize = 4; // of a reply and of a version 1 request
constexpr std::size_t KindHeaderSize = 5;
constexpr std::size_t MaxPorts = 64;
constexpr std::size_t MaxRequestSize = KindHeaderSize + 2 * MaxPorts;
constexpr std::size_t EntrySize = 3;
constexpr std::size_t MaxReplySize = HeaderSize + EntrySize * MaxPorts;
constexpr unsigned LowestPort = 1;
constexpr unsigned HighestPort = 1023;
constexpr const char* ListPath = SENTREL_BIND_LIST_DIR "/" SENTREL_BIND_LIST_NAME;
// Every port from 1 to 1023 on a line of its own, with room for comments.
constexpr std::size_t MaxListSize = 16384;

enum Kind : std::uint8_t {
    Stream = 0,
    Datagram = 1,
};

enum PortStatus : std::uint8_t {
    Bound = 0,
    InUse = 1,
    NotPermitted = 2,
    Invalid = 3,
    Failed = 4,
};

struct Request
{
    std::uint8_t version = 0;
    Kind kind = Stream;
    std::size_t count = 0;
    std::array<std::uint16_t, MaxPorts> ports {};
};

// allowed[p]: port p is on the list.
using PortList = std::array<bool, HighestPort + 1>;
using FileStatus = struct stat;

// The whole request must be exactly what the header announces: no trailing bytes, no empty list.
// nullptr when it is; else why not, and the request stays empty.
inline const char* parseRequest(const std::uint8_t* data, std::size_t size, Request& request)
{
    request = Request {};
    if (size < HeaderSize)
        return "request shorter than its header";
    if (data[0] != Magic0 || data[1] != Magic1 || (data[2] != Version && data[2] != KindVersion))
        return "not a request of this helper's protocol version";
    const std::size_t count = data[3];
    if (count == 0 || count > MaxPorts)
        return "a request names 1 to 64 ports";
    const std::size_t header = data[2] == Version ? HeaderSize : KindHeaderSize;
    if (size < header)
        return "request shorter than its header";
    if (header == KindHeaderSize && data[4] != Stream && data[4] != Datagram)
        return "a request asks for TCP (0) or UDP (1) sockets";
    if (size != header + 2 * count)
        return "request length does not match its port count";
    Request parsed;
    parsed.version = data[2];
    parsed.kind = header == KindHeaderSize ? Kind(data[4]) : Stream;
    parsed.count = count;
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned port = unsigned(data[header + 2 * i]) << 8 | data[header + 2 * i + 1];
        if (port < LowestPort || port > HighestPort)
            return "ports must be from 1 to 1023";
        parsed.ports[i] = std::uint16_t(port);
    }
    request = parsed;
    return nullptr;
}

// A list with anything but port numbers from 1 to 1023, white space and comments is refused as
// a whole and leaves nothing allowed: a typo must not quietly change which ports are open.
inline bool parsePortList(const char* text, std::size_t size, PortList& allowed)
{
    allowed = PortList {};
    if (size > MaxListSize)
        return false;
    PortList parsed {};
    std::size_t i = 0;
    while (i < size) {
        const char c = text[i];
        if (c == '#') {
            while (i < size && text[i] != '\n')
                ++i;
        } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            ++i;
        } else {
            unsigned port = 0;
            const std::size_t start = i;
            while (i < size && text[i] >= '0' && text[i] <= '9' && port <= HighestPort)
                port = port * 10 + unsigned(text[i++] - '0');
            const bool ended = i == size || text[i] == ' ' || text[i] == '\t' || text[i] == '\n'
                || text[i] == '\r' || text[i] == '#';
            if (i == start || !ended || port < LowestPort || port > HighestPort)
                return false;
            parsed[port] = true;
        }
    }
    allowed = parsed;
    return true;
}

inline bool trustedOwner(uid_t owner)
{
    return owner == 0 || (SENTREL_BIND_LIST_MAY_BE_CALLERS && owner == ::getuid());
}

// Only root may have written what the list says: the list and its folder must belong to root and
// be writable by no one else. The file is opened through the folder it was checked in, without
// following links, so neither can be swapped in between. nullptr when the list was read; else why
// not, and nothing is allowed.
inline const char* loadPortList(PortList& allowed)
{
    allowed = PortList {};
    const int folder = ::open(SENTREL_BIND_LIST_DIR, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder < 0)
        return "is missing";
    FileStatus info {};
    const bool folderTrusted = ::fstat(folder, &info) == 0 && trustedOwner(info.st_uid)
        && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
    const int fd = folderTrusted
        ? ::openat(folder, SENTREL_BIND_LIST_NAME, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)
        : -1;
    const int openError = errno;
    ::close(folder);
    if (!folderTrusted)
        return "is in a folder others may write";
    if (fd < 0)
        return openError == ENOENT ? "is missing" : "cannot be opened";
    const char* problem = nullptr;
    std::array<char, MaxListSize + 1> text {};
    std::size_t size = 0;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || !trustedOwner(info.st_uid)
        || (info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        problem = "is not a file of root's that only root may write";
    } else {
        // One byte more than a list may hold, so that a longer one is seen and refused.
        ssize_t got = 0;
        while (size < text.size() && (got = ::read(fd, text.data() + size, text.size() - size)) > 0)
            size += std::size_t(got);
        if (got < 0)
            problem = "cannot be read";
        else if (!parsePortList(text.data(), size, allowed))
            problem = "holds something other than port numbers from 1 to 1023";
    }
    ::close(fd);
    return problem;
}

inline PortStatus statusOf(int error)
{
    switch (error) {
    case EADDRINUSE:
        return InUse;
    case EACCES:
    case EPERM:
        return NotPermitted;
    case EINVAL:
        return Invalid;
    default:
        return Failed;
    }
}

// One socket on every local address, a TCP one listening; -1 with errno set when the port cannot
// be had. No SO_REUSEADDR on UDP: there it would let the socket share a port a service serves.
inline int bindPort(unsigned port, Kind kind)
{
    const unsigned bound = port + SENTREL_BIND_PORT_OFFSET;
    const int type = kind == Datagram ? SOCK_DGRAM : SOCK_STREAM;
    const int on = 1;
    const int off = 0;
    int fd = ::socket(AF_INET6, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    int result = -1;
    if (fd >= 0) {
        if (kind == Stream)
            ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
        sockaddr_in6 any {};
        any.sin6_family = AF_INET6;
        any.sin6_addr = in6addr_any;
        any.sin6_port = htons(std::uint16_t(bound));
        result = ::bind(fd, reinterpret_cast<const sockaddr*>(&any), sizeof any);
    } else if (errno == EAFNOSUPPORT) {
        fd = ::socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return -1;
        if (kind == Stream)
            ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in any {};
        any.sin_family = AF_INET;
        any.sin_addr.s_addr = htonl(INADDR_ANY);
        any.sin_port = htons(std::uint16_t(bound));
        result = ::bind(fd, reinterpret_cast<const sockaddr*>(&any), sizeof any);
    } else {
        return -1;
    }
    if (result != 0 || (kind == Stream && ::listen(fd, SOMAXCONN) != 0)) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

// What every helper does to start, to fail and to give up its capability.
using namespace sentrel_helper;
constexpr const char* Name = "sentrel-bind";

inline int sendReply(int channel, const Request& request, const std::array<int, MaxPorts>& fds,
    const std::array<std::uint8_t, MaxPorts>& statuses)
{
    std::array<std::uint8_t, MaxReplySize> reply {};
    reply[0] = Magic0;
    reply[1] = Magic1;
    reply[2] = request.version;
    reply[3] = std::uint8_t(request.count);
    std::array<int, MaxPorts> bound {};
    std::size_t boundCount = 0;
    for (std::size_t i = 0; i < request.count; ++i) {
        std::uint8_t* entry = &reply[HeaderSize + EntrySize * i];
        entry[0] = std::uint8_t(request.ports[i] >> 8);
        entry[1] = std::uint8_t(request.ports[i] & 0xff);
        entry[2] = statuses[i];
        if (statuses[i] == Bound)
            bound[boundCount++] = fds[i];
    }

    alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(int) * MaxPorts)> control {};
    iovec part { reply.data(), HeaderSize + EntrySize * request.count };
    msghdr message {};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    if (boundCount > 0) {
        message.msg_control = control.data();
        message.msg_controllen = CMSG_SPACE(sizeof(int) * boundCount);
        cmsghdr* header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = SOL_SOCKET;
        header->cmsg_type = SCM_RIGHTS;
        header->cmsg_len = CMSG_LEN(sizeof(int) * boundCount);
        std::memcpy(CMSG_DATA(header), bound.data(), sizeof(int) * boundCount);
    }
    if (::sendmsg(channel, &message, MSG_NOSIGNAL) != ssize_t(part.iov_len))
        return fail(Name, ReplyFailed, "the reply could not be sent");
    return Served;
}

inline int run(int argc)
{
    Request request;
    const auto why = [&request](const std::uint8_t* data, std::size_t size) { return parseRequest(data, size, request); };
    if (const int code = start<MaxRequestSize>(Name, argc, CAP_NET_BIND_SERVICE, why); code != Served)
        return code;

    // Said on standard error, which is the program's: where an administrator looks.
    PortList allowed {};
    const char* problem = loadPortList(allowed);
    if (problem)
        std::fprintf(stderr, "sentrel-bind: the port list %s %s; no port is bound\n", ListPath, problem);
    std::array<int, MaxPorts> fds {};
    std::array<std::uint8_t, MaxPorts> statuses {};
    bool unlisted = false;
    for (std::size_t i = 0; i < request.count; ++i) {
        const unsigned port = request.ports[i];
        fds[i] = allowed[port] ? bindPort(port, request.kind) : -1;
        statuses[i] = fds[i] >= 0 ? Bound : allowed[port] ? statusOf(errno) : NotPermitted;
        if (!allowed[port] && !problem)
            std::fprintf(stderr, "%s %u",
                std::exchange(unlisted, true) ? "" : "sentrel-bind: not on the port list:", port);
    }
    if (unlisted)
        std::fprintf(stderr, "\n");
    if (!dropCapabilities())
        return fail(Name, Internal, "could not drop its capabilities");
    return sendReply(STDIN_FILENO, request, fds, statuses);
}

} // namespace sentrel_bind

#ifndef SENTREL_BIND_NO_MAIN
int main(int argc, char**)
{
    return sentrel_bind::run(argc);
}
#endif
