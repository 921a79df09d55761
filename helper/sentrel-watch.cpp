// sentrel-watch: opens the one socket through which Sentrel sees the TCP segments that open no
// connection (SYNs, and FIN, NULL, Xmas and the other flag mixes no real connection sends) and
// hands it back as a descriptor. It is installed with the single file capability cap_net_raw; who
// may run it is the file system's business: the package makes it root:sentrel, mode 0750.
// Kept to this one file, with no library beyond the C++ runtime, so it can be read in one sitting.
//
// What it does, and all it does:
//  - its standard input must be one end of a Unix SOCK_SEQPACKET socket pair; standard output and
//    standard error must be open (so no socket it makes can land on them);
//  - it reads one request, exactly 'S' 'W' version, and refuses anything else;
//  - it makes a packet socket that sees every interface, IPv4 and IPv6, and before the socket
//    sees a single packet attaches a filter that passes only segments addressed to this host with
//    SYN set and ACK clear, or with none of SYN, ACK, RST set; it cuts every packet it passes to
//    the IP header and the fixed TCP header, so no byte of payload (and no TCP option) ever
//    leaves the kernel; IPv4 fragments and IPv6 with extension headers are dropped, not guessed;
//  - it locks the filter, so the receiver can neither widen nor remove it;
//  - it drops every capability, replies with a status and, when armed, the socket as an
//    SCM_RIGHTS descriptor, and exits.
// It takes no arguments, reads no environment, opens no file and starts no program.
//
// Request: 'S' 'W' version.
// Reply:   'S' 'W' version status; the socket rides along when the status is Armed.

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <linux/filter.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace sentrel_watch {

constexpr std::uint8_t Magic0 = 'S';
constexpr std::uint8_t Magic1 = 'W';
constexpr std::uint8_t Version = 1;
constexpr std::size_t RequestSize = 3;
constexpr std::size_t ReplySize = 4;
// How long a caller may take to send its request before the helper gives up on it.
constexpr int RequestTimeoutMs = 5000;

enum class Parse {
    Ok,
    BadLength,
    BadHeader,
};

enum Status : std::uint8_t {
    Armed = 0,
    NotPermitted = 1,
    Failed = 2,
};

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

inline Parse parseRequest(const std::uint8_t* data, std::size_t size)
{
    if (size != RequestSize)
        return Parse::BadLength;
    if (data[0] != Magic0 || data[1] != Magic1 || data[2] != Version)
        return Parse::BadHeader;
    return Parse::Ok;
}

inline const char* describe(Parse result)
{
    switch (result) {
    case Parse::Ok:
        return "ok";
    case Parse::BadLength:
        return "a request is exactly three bytes";
    case Parse::BadHeader:
        return "not a request of this helper's protocol version";
    }
    return "unknown";
}

// TCP flag bits, in the 14th byte of the TCP header.
constexpr std::uint32_t Syn = 0x02;
constexpr std::uint32_t Rst = 0x04;
constexpr std::uint32_t Ack = 0x10;
constexpr std::uint32_t FixedTcpHeader = 20;
constexpr std::uint32_t Ipv6Header = 40;
constexpr std::uint32_t TcpProtocol = 6;

// The filter, in classic BPF. Offsets count from the IP header (a SOCK_DGRAM packet socket).
// What it returns is how many bytes of the packet the receiver gets: 0 drops it. It keeps the
// length to hand over in scratch slot 0 so that both address families share the flag test. The
// kernel refuses a program that jumps backwards or out of it, and answers a load past the end of
// a short packet with "drop". Jump offsets count the statements skipped.
constexpr std::size_t FilterLength = 33;
inline constexpr std::array<sock_filter, FilterLength> filterProgram()
{
    return { {
        // 0: only packets addressed to this host: never one it sends (loopback shows each segment
        // once outgoing and once incoming), nor another host's seen in promiscuous mode.
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, std::uint32_t(SKF_AD_OFF + SKF_AD_PKTTYPE)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, PACKET_HOST, 0, 30),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, std::uint32_t(SKF_AD_OFF + SKF_AD_PROTOCOL)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ETH_P_IP, 1, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ETH_P_IPV6, 14, 27),
        // 5: IPv4 carrying TCP, not a fragment (neither "more fragments" nor an offset)
        BPF_STMT(BPF_LD | BPF_B | BPF_ABS, 0),
        BPF_STMT(BPF_ALU | BPF_AND | BPF_K, 0xf0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0x40, 0, 24),
        BPF_STMT(BPF_LD | BPF_B | BPF_ABS, 9),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, TcpProtocol, 0, 22),
        BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 6),
        BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, 0x3fff, 20, 0),
        // 12: X = the IPv4 header's length (at least 20); keep it plus the TCP header; the flags
        BPF_STMT(BPF_LDX | BPF_B | BPF_MSH, 0),
        BPF_STMT(BPF_MISC | BPF_TXA, 0),
        BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, 20, 0, 17),
        BPF_STMT(BPF_ALU | BPF_ADD | BPF_K, FixedTcpHeader),
        BPF_STMT(BPF_ST, 0),
        BPF_STMT(BPF_LD | BPF_B | BPF_IND, 13),
        BPF_JUMP(BPF_JMP | BPF_JA, 8, 0, 0),
        // 19: IPv6 whose next header is TCP itself: an extension header in between is dropped
        BPF_STMT(BPF_LD | BPF_B | BPF_ABS, 0),
        BPF_STMT(BPF_ALU | BPF_AND | BPF_K, 0xf0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0x60, 0, 10),
        BPF_STMT(BPF_LD | BPF_B | BPF_ABS, 6),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, TcpProtocol, 0, 8),
        BPF_STMT(BPF_LD | BPF_IMM, Ipv6Header + FixedTcpHeader),
        BPF_STMT(BPF_ST, 0),
        BPF_STMT(BPF_LD | BPF_B | BPF_ABS, Ipv6Header + 13),
        // 27: A = the flags. SYN without ACK (a connection's first segment, or a half-open
        // probe) passes; so does anything without SYN, ACK and RST (FIN, NULL, Xmas). Every other
        // segment of a connection carries ACK or RST and is dropped.
        BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, Ack, 4, 0),
        BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, Syn | Rst, 0, 1),
        BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, Syn, 0, 2),
        // 30: pass the headers; 32: drop. Passing comes first: the kernel's check follows a
        // return into the next statement as if it ran, and would find slot 0 unset there.
        BPF_STMT(BPF_LD | BPF_MEM, 0),
        BPF_STMT(BPF_RET | BPF_A, 0),
        BPF_STMT(BPF_RET | BPF_K, 0),
    } };
}

inline Status statusOf(int error)
{
    return error == EPERM || error == EACCES ? NotPermitted : Failed;
}

// The socket with its filter locked, bound to every interface only afterwards: a packet socket
// made with protocol 0 receives nothing, so no unfiltered packet is ever queued on it.
// -1 with errno set when it cannot be had.
inline int openWatchSocket()
{
    const int fd = ::socket(AF_PACKET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    auto program = filterProgram();
    const sock_fprog filter { std::uint16_t(program.size()), program.data() };
    const int on = 1;
    sockaddr_ll everywhere {};
    everywhere.sll_family = AF_PACKET;
    everywhere.sll_protocol = htons(ETH_P_ALL);
    everywhere.sll_ifindex = 0;
    if (::setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &filter, sizeof filter) != 0
        || ::setsockopt(fd, SOL_SOCKET, SO_LOCK_FILTER, &on, sizeof on) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error == EPERM ? EINVAL : error; // a refused filter is a fault, not a lack of rights
        return -1;
    }
    // Saves the kernel a copy of every sent packet only for the filter to drop it; the filter
    // drops them anyway where the kernel is too old for this.
    ::setsockopt(fd, SOL_PACKET, PACKET_IGNORE_OUTGOING, &on, sizeof on);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&everywhere), sizeof everywhere) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

// Empties the effective, permitted and inheritable sets and the ambient set, then checks that
// nothing is left. After this the process can no more than its user.
inline bool dropCapabilities()
{
    ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    __user_cap_header_struct header {};
    header.version = _LINUX_CAPABILITY_VERSION_3;
    std::array<__user_cap_data_struct, _LINUX_CAPABILITY_U32S_3> data {};
    if (::syscall(SYS_capset, &header, data.data()) != 0)
        return false;
    if (::syscall(SYS_capget, &header, data.data()) != 0)
        return false;
    for (const auto& set : data) {
        if (set.effective != 0 || set.permitted != 0 || set.inheritable != 0)
            return false;
    }
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0;
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

inline int fail(int code, const char* what)
{
    std::fprintf(stderr, "sentrel-watch: %s\n", what);
    return code;
}

// Reads the one request. Anything longer, or carrying descriptors of its own, is refused whole.
inline int readRequest(int channel)
{
    pollfd ready { channel, POLLIN, 0 };
    if (::poll(&ready, 1, RequestTimeoutMs) != 1)
        return fail(NoRequest, "no request arrived");
    std::array<std::uint8_t, RequestSize + 1> buffer {};
    iovec part { buffer.data(), buffer.size() };
    msghdr message {};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    const ssize_t size = ::recvmsg(channel, &message, MSG_CMSG_CLOEXEC);
    if (size <= 0)
        return fail(NoRequest, "no request arrived");
    if ((message.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) != 0)
        return fail(BadRequest, "refused: request too large or carrying descriptors");
    const Parse result = parseRequest(buffer.data(), std::size_t(size));
    if (result != Parse::Ok) {
        std::fprintf(stderr, "sentrel-watch: refused: %s\n", describe(result));
        return BadRequest;
    }
    return Served;
}

inline int sendReply(int channel, Status status, int fd)
{
    std::array<std::uint8_t, ReplySize> reply { Magic0, Magic1, Version, status };
    alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(int))> control {};
    iovec part { reply.data(), reply.size() };
    msghdr message {};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    if (status == Armed) {
        message.msg_control = control.data();
        message.msg_controllen = control.size();
        cmsghdr* header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = SOL_SOCKET;
        header->cmsg_type = SCM_RIGHTS;
        header->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(header), &fd, sizeof fd);
    }
    if (::sendmsg(channel, &message, MSG_NOSIGNAL) != ssize_t(reply.size()))
        return fail(ReplyFailed, "the reply could not be sent");
    return Served;
}

inline int run(int argc)
{
    // Without open standard streams the socket made here could become someone's standard output.
    if (!isOpen(STDOUT_FILENO) || !isOpen(STDERR_FILENO))
        return BadDescriptors;
    if (argc != 1)
        return fail(Usage, "takes no arguments; the program that needs it starts it");
    if (!isOpen(STDIN_FILENO) || !isSeqpacketPair(STDIN_FILENO))
        return fail(BadDescriptors, "standard input must be a Unix SOCK_SEQPACKET socket");
    // Nothing else inherited stays open: whatever the caller left behind is none of our business.
    ::syscall(SYS_close_range, 3U, ~0U, 0U);

    if (const int code = readRequest(STDIN_FILENO); code != Served)
        return code;
    const int fd = openWatchSocket();
    const Status status = fd >= 0 ? Armed : statusOf(errno);
    if (fd < 0)
        std::fprintf(stderr, "sentrel-watch: no packet socket: %s\n", std::strerror(errno));
    if (!dropCapabilities())
        return fail(Internal, "could not drop its capabilities");
    return sendReply(STDIN_FILENO, status, fd);
}

} // namespace sentrel_watch

#ifndef SENTREL_WATCH_NO_MAIN
int main(int argc, char**)
{
    return sentrel_watch::run(argc);
}
#endif
