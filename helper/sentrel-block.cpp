// sentrel-block: puts an intruder's address into Sentrel's own firewall table for a bounded time,
// takes it out again, or lists what is in it. It is installed with the single file capability
// cap_net_admin; who may run it is the file system's business: the package makes it root:sentrel,
// mode 0750. Kept to this one file; it speaks to the kernel through libnftables, never by starting
// a program.
//
// What it does, and all it does:
//  - its standard input must be one end of a Unix SOCK_SEQPACKET socket pair; standard output and
//    standard error must be open;
//  - it reads one request: add one address for 1 to 86400 seconds, delete one address, or list.
//    The address is binary (4 or 16 bytes); the unspecified address, loopback, multicast and
//    IPv4-mapped IPv6 are refused, and so is anything else;
//  - the only table it ever creates or changes is "inet sentrel": the sets blocked4 and blocked6
//    (with timeouts, so entries expire in the kernel whether or not Sentrel still runs) and the
//    chain input, which drops what comes from either set. Each change is one transaction that
//    first makes sure the table is whole;
//  - the command text it hands libnftables is built from the parsed address (inet_ntop) and the
//    bounded number only: no byte of the request is copied into it;
//  - it drops every capability, replies with a status (and for list, the addresses with the
//    seconds they have left) and exits.
// It takes no arguments, reads no environment and starts no program.
//
// Request: 'S' 'F' version op, then for 'a' (add): family (4 or 6), the address, the seconds as a
//          32-bit big-endian number; for 'd' (delete): family, the address; for 'l' (list): none.
// Reply:   'S' 'F' version status; for a list that succeeded also the count (16-bit big-endian),
//          whether more were left out (0 or 1), then per address: family, 16 bytes of address
//          (an IPv4 one in the first 4), the seconds left (32-bit big-endian).

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#ifndef SENTREL_BLOCK_NO_NFT
#include <nftables/libnftables.h>
#endif

namespace sentrel_block {

constexpr std::uint8_t Magic0 = 'S';
constexpr std::uint8_t Magic1 = 'F';
constexpr std::uint8_t Version = 1;
constexpr std::size_t HeaderSize = 4;
constexpr std::size_t MaxRequestSize = HeaderSize + 1 + 16 + 4;
constexpr std::uint32_t MaxSeconds = 24 * 60 * 60;
// Entries a list reply carries at most; one more than Sentrel ever keeps, for both families.
constexpr std::size_t MaxListed = 512;
constexpr std::size_t EntrySize = 1 + 16 + 4;
constexpr std::size_t ListHeaderSize = HeaderSize + 3;
constexpr std::size_t MaxReplySize = ListHeaderSize + MaxListed * EntrySize;
constexpr int RequestTimeoutMs = 5000;

enum class Op : std::uint8_t { None = 0, Add = 'a', Delete = 'd', List = 'l' };

struct Request
{
    Op op = Op::None;
    int family = 0; // AF_INET or AF_INET6
    std::array<std::uint8_t, 16> address {};
    std::uint32_t seconds = 0;
};

enum class Parse {
    Ok,
    BadLength,
    BadHeader,
    BadOp,
    BadFamily,
    BadAddress,
    BadSeconds,
};

enum Status : std::uint8_t {
    Done = 0,
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

// Addresses no intruder can have, or whose blocking would cut the machine off from itself.
inline bool isRefusedAddress(int family, const std::uint8_t* a)
{
    if (family == AF_INET) {
        const bool zero = a[0] == 0 && a[1] == 0 && a[2] == 0 && a[3] == 0;
        return zero || a[0] == 127 || a[0] >= 224; // unspecified, loopback, multicast and above
    }
    bool zeroUpTo15 = true;
    for (int i = 0; i < 15; ++i)
        zeroUpTo15 = zeroUpTo15 && a[i] == 0;
    bool mapped = a[10] == 0xff && a[11] == 0xff;
    for (int i = 0; i < 10; ++i)
        mapped = mapped && a[i] == 0;
    return (zeroUpTo15 && a[15] <= 1) || a[0] == 0xff || mapped;
}

// Fills request only when the whole of data is a valid request; otherwise it stays empty.
inline Parse parseRequest(const std::uint8_t* data, std::size_t size, Request& request)
{
    request = Request {};
    if (size < HeaderSize || size > MaxRequestSize)
        return Parse::BadLength;
    if (data[0] != Magic0 || data[1] != Magic1 || data[2] != Version)
        return Parse::BadHeader;
    const auto op = Op(data[3]);
    if (op == Op::List)
        return size == HeaderSize ? (request.op = op, Parse::Ok) : Parse::BadLength;
    if (op != Op::Add && op != Op::Delete)
        return Parse::BadOp;
    if (size < HeaderSize + 1)
        return Parse::BadLength;
    const std::uint8_t familyByte = data[HeaderSize];
    if (familyByte != 4 && familyByte != 6)
        return Parse::BadFamily;
    const std::size_t addressSize = familyByte == 4 ? 4 : 16;
    const std::size_t expected = HeaderSize + 1 + addressSize + (op == Op::Add ? 4 : 0);
    if (size != expected)
        return Parse::BadLength;
    const std::uint8_t* address = data + HeaderSize + 1;
    const int family = familyByte == 4 ? AF_INET : AF_INET6;
    if (isRefusedAddress(family, address))
        return Parse::BadAddress;
    std::uint32_t seconds = 0;
    if (op == Op::Add) {
        const std::uint8_t* s = address + addressSize;
        seconds = std::uint32_t(s[0]) << 24 | std::uint32_t(s[1]) << 16 | std::uint32_t(s[2]) << 8 | s[3];
        if (seconds < 1 || seconds > MaxSeconds)
            return Parse::BadSeconds;
    }
    request.op = op;
    request.family = family;
    std::memcpy(request.address.data(), address, addressSize);
    request.seconds = seconds;
    return Parse::Ok;
}

inline const char* describe(Parse result)
{
    switch (result) {
    case Parse::Ok:
        return "ok";
    case Parse::BadLength:
        return "not the length of a request";
    case Parse::BadHeader:
        return "not a request of this helper's protocol version";
    case Parse::BadOp:
        return "neither add, delete nor list";
    case Parse::BadFamily:
        return "an address family other than 4 or 6";
    case Parse::BadAddress:
        return "an address that is never blocked";
    case Parse::BadSeconds:
        return "a time outside 1 to 86400 seconds";
    }
    return "unknown";
}

// The table, its two sets and its chain, made whole in the same transaction as every change: the
// chain's rules are flushed and written again so that they are exactly these two, however often
// it runs. Nothing here names another table.
constexpr const char* TableSetup = "add table inet sentrel\n"
                                   "add set inet sentrel blocked4 { type ipv4_addr; flags timeout; }\n"
                                   "add set inet sentrel blocked6 { type ipv6_addr; flags timeout; }\n"
                                   "add chain inet sentrel input { type filter hook input priority filter; policy accept; }\n"
                                   "flush chain inet sentrel input\n"
                                   "add rule inet sentrel input ip saddr @blocked4 drop\n"
                                   "add rule inet sentrel input ip6 saddr @blocked6 drop\n";
constexpr std::size_t CommandRoom = 1024;

// The command text for an add or delete, from the parsed request only. Adding first puts the
// address in (so the delete that follows cannot fail), then writes it again with the new time:
// "add" alone would keep an existing entry's old expiry. Deleting likewise adds before it
// deletes, so deleting an address that is not there succeeds. false if it would not fit.
inline bool buildCommand(const Request& request, char* out, std::size_t room)
{
    char text[INET6_ADDRSTRLEN] {};
    if (request.op == Op::List || ::inet_ntop(request.family, request.address.data(), text, sizeof text) == nullptr)
        return false;
    const char* set = request.family == AF_INET ? "blocked4" : "blocked6";
    int written = 0;
    if (request.op == Op::Add) {
        written = std::snprintf(out, room,
            "%sadd element inet sentrel %s { %s timeout 1s }\n"
            "delete element inet sentrel %s { %s }\n"
            "add element inet sentrel %s { %s timeout %us }\n",
            TableSetup, set, text, set, text, set, text, unsigned(request.seconds));
    } else {
        written = std::snprintf(out, room,
            "%sadd element inet sentrel %s { %s timeout 1s }\n"
            "delete element inet sentrel %s { %s }\n",
            TableSetup, set, text, set, text);
    }
    return written > 0 && std::size_t(written) < room;
}

struct Listed
{
    std::uint8_t family = 0; // 4 or 6
    std::array<std::uint8_t, 16> address {};
    std::uint32_t seconds = 0;
};

// Reads the elements out of libnftables' JSON listing of one set: each is
// {"elem": {"val": "<address>", "timeout": N, "expires": N}}. An element whose value does not read
// back as an address of the set's family is skipped. Returns how many it wrote; more is set when
// there were more than room.
inline std::size_t parseListing(const char* json, int family, Listed* out, std::size_t room, bool& more)
{
    std::size_t count = 0;
    const char* key = "\"val\": \"";
    for (const char* at = std::strstr(json, key); at; at = std::strstr(at, key)) {
        at += std::strlen(key);
        const char* end = std::strchr(at, '"');
        if (!end)
            break;
        char text[INET6_ADDRSTRLEN] {};
        Listed entry;
        const std::size_t length = std::size_t(end - at);
        if (length >= sizeof text)
            continue;
        std::memcpy(text, at, length);
        if (::inet_pton(family, text, entry.address.data()) != 1)
            continue;
        entry.family = family == AF_INET ? 4 : 6;
        // The seconds left, up to the element's closing brace.
        const char* close = std::strchr(end, '}');
        const char* expires = std::strstr(end, "\"expires\": ");
        if (expires && (!close || expires < close))
            entry.seconds = std::uint32_t(std::strtoul(expires + 11, nullptr, 10));
        if (count == room) {
            more = true;
            break;
        }
        out[count++] = entry;
    }
    return count;
}

inline Status statusOfError(const char* error)
{
    return error && std::strstr(error, "Operation not permitted") ? NotPermitted : Failed;
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
    std::fprintf(stderr, "sentrel-block: %s\n", what);
    return code;
}

// Reads the one request. Anything longer, or carrying descriptors, is refused whole.
inline int readRequest(int channel, Request& request)
{
    pollfd ready { channel, POLLIN, 0 };
    if (::poll(&ready, 1, RequestTimeoutMs) != 1)
        return fail(NoRequest, "no request arrived");
    std::array<std::uint8_t, MaxRequestSize + 1> buffer {};
    iovec part { buffer.data(), buffer.size() };
    msghdr message {};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    const ssize_t size = ::recvmsg(channel, &message, MSG_CMSG_CLOEXEC);
    if (size <= 0)
        return fail(NoRequest, "no request arrived");
    if ((message.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) != 0)
        return fail(BadRequest, "refused: request too large or carrying descriptors");
    const Parse result = parseRequest(buffer.data(), std::size_t(size), request);
    if (result != Parse::Ok) {
        std::fprintf(stderr, "sentrel-block: refused: %s\n", describe(result));
        return BadRequest;
    }
    return Served;
}

struct Reply
{
    std::array<std::uint8_t, MaxReplySize> bytes {};
    std::size_t size = HeaderSize;
};

inline void putListing(Reply& reply, const Listed* entries, std::size_t count, bool more)
{
    std::uint8_t* p = reply.bytes.data() + HeaderSize;
    *p++ = std::uint8_t(count >> 8);
    *p++ = std::uint8_t(count);
    *p++ = more ? 1 : 0;
    for (std::size_t i = 0; i < count; ++i) {
        *p++ = entries[i].family;
        std::memcpy(p, entries[i].address.data(), 16);
        p += 16;
        const std::uint32_t s = entries[i].seconds;
        *p++ = std::uint8_t(s >> 24);
        *p++ = std::uint8_t(s >> 16);
        *p++ = std::uint8_t(s >> 8);
        *p++ = std::uint8_t(s);
    }
    reply.size = std::size_t(p - reply.bytes.data());
}

#ifndef SENTREL_BLOCK_NO_NFT
// Runs the request against the kernel and fills the reply's status (and listing).
inline void serve(const Request& request, Reply& reply)
{
    reply.bytes[3] = Failed;
    nft_ctx* nft = ::nft_ctx_new(NFT_CTX_DEFAULT);
    if (!nft) {
        std::fprintf(stderr, "sentrel-block: libnftables could not start\n");
        return;
    }
    ::nft_ctx_buffer_output(nft);
    ::nft_ctx_buffer_error(nft);
    if (request.op == Op::List) {
        ::nft_ctx_output_set_flags(nft, NFT_CTX_OUTPUT_JSON);
        static Listed entries[MaxListed];
        std::size_t count = 0;
        bool more = false;
        bool failed = false;
        for (const int family : { AF_INET, AF_INET6 }) {
            const char* command = family == AF_INET ? "list set inet sentrel blocked4" : "list set inet sentrel blocked6";
            if (::nft_run_cmd_from_buffer(nft, command) != 0) {
                const char* error = ::nft_ctx_get_error_buffer(nft);
                // No table yet: nothing was ever blocked.
                if (error && std::strstr(error, "No such file or directory"))
                    continue;
                reply.bytes[3] = statusOfError(error);
                failed = true;
                break;
            }
            count += parseListing(::nft_ctx_get_output_buffer(nft), family, entries + count, MaxListed - count, more);
        }
        if (!failed) {
            reply.bytes[3] = Done;
            putListing(reply, entries, count, more);
        }
    } else {
        static char command[CommandRoom];
        if (buildCommand(request, command, sizeof command)) {
            const bool ok = ::nft_run_cmd_from_buffer(nft, command) == 0;
            const char* error = ::nft_ctx_get_error_buffer(nft);
            reply.bytes[3] = ok ? Done : statusOfError(error);
            if (!ok && error)
                std::fprintf(stderr, "sentrel-block: %s", error);
        }
    }
    ::nft_ctx_free(nft);
}

inline int run(int argc)
{
    if (!isOpen(STDOUT_FILENO) || !isOpen(STDERR_FILENO))
        return BadDescriptors;
    if (argc != 1)
        return fail(Usage, "takes no arguments; the program that needs it starts it");
    if (!isOpen(STDIN_FILENO) || !isSeqpacketPair(STDIN_FILENO))
        return fail(BadDescriptors, "standard input must be a Unix SOCK_SEQPACKET socket");
    // Nothing else inherited stays open.
    ::syscall(SYS_close_range, 3U, ~0U, 0U);

    Request request;
    if (const int code = readRequest(STDIN_FILENO, request); code != Served)
        return code;
    static Reply reply;
    reply.bytes[0] = Magic0;
    reply.bytes[1] = Magic1;
    reply.bytes[2] = Version;
    serve(request, reply);
    if (!dropCapabilities())
        return fail(Internal, "could not drop its capabilities");
    if (::send(STDIN_FILENO, reply.bytes.data(), reply.size, MSG_NOSIGNAL) != ssize_t(reply.size))
        return fail(ReplyFailed, "the reply could not be sent");
    return Served;
}
#endif

} // namespace sentrel_block

#ifndef SENTREL_BLOCK_NO_MAIN
int main(int argc, char**)
{
    return sentrel_block::run(argc);
}
#endif
