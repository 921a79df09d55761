// sentrel-block: puts intruders' addresses into Sentrel's own firewall table for a bounded time,
// takes them out again, or lists what is in it. It is installed with the single file capability
// cap_net_admin; who may run it is the file system's business: the package makes it root:sentrel,
// mode 0750. Kept to this file, the start every helper shares (HelperStart.h) and the route reader
// it shares with the program (RouteDump.h); it speaks to the kernel through netlink and
// libnftables, never by starting a program.
//
// What it does, and all it does:
//  - its standard input must be one end of a Unix SOCK_SEQPACKET socket pair; standard output and
//    standard error must be open;
//  - it reads one request: add 1 to 64 addresses, each for 1 to 86400 seconds, delete 1 to 64, or
//    list. Addresses are binary (4 or 16 bytes). A request naming an address no intruder can have
//    or that would cut the machine off (unspecified, 0.0.0.0/8, loopback, link-local, multicast,
//    broadcast and the reserved 240/4, IPv4-mapped IPv6) or the same address twice is refused
//    whole, and so is anything else;
//  - what a member of the group could still turn against the machine it refuses per address: the
//    machine's own addresses and the next hops of every default route in every routing table, read
//    from the kernel before each add (none is added when they cannot be read), and any address
//    beyond MaxEntries in the table (counted under a lock, so parallel calls cannot overshoot);
//  - the only table it ever creates or changes is "inet sentrel": the sets blocked4 and blocked6
//    (with timeouts, so entries expire in the kernel whether or not Sentrel still runs) and the
//    chain input, which drops what comes from either set. Each change is one transaction that
//    first makes sure the table is whole;
//  - the command text it hands libnftables is built from the parsed addresses (inet_ntop) and the
//    bounded numbers only: no byte of the request is copied into it;
//  - it drops every capability, replies with a status (for add and delete one result per address;
//    for list the addresses with the seconds they have left) and exits.
// It takes no arguments, reads no environment and starts no program.
//
// Request: 'S' 'F' version (2) op; for 'a' (add) and 'd' (delete): the count n (1 to 64), then n
//          entries of family (4 or 6), 16 bytes of address (an IPv4 one in the first 4, the rest
//          zero), the seconds as a 32-bit big-endian number (0 for delete); for 'l' (list): none.
// Reply:   'S' 'F' version status; for add and delete also n and one result per entry (Result);
//          for a list that succeeded the count (16-bit big-endian), whether more were left out (0
//          or 1), then per address: family, 16 bytes of address, the seconds left (32-bit BE).

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#ifndef SENTREL_BLOCK_NO_NFT
#include <nftables/libnftables.h>
#include <sys/file.h>
#endif

#include "HelperStart.h"
#include "RouteDump.h"

namespace sentrel_block {

constexpr std::uint8_t Magic0 = 'S';
constexpr std::uint8_t Magic1 = 'F';
constexpr std::uint8_t Version = 2;
constexpr std::size_t HeaderSize = 4;
// Addresses one add or delete carries at most: a burst of intruders goes in a few calls.
constexpr std::size_t MaxPerRequest = 64;
constexpr std::size_t EntrySize = 1 + 16 + 4;
constexpr std::size_t MaxRequestSize = HeaderSize + 1 + MaxPerRequest * EntrySize;
constexpr std::uint32_t MaxSeconds = 24 * 60 * 60;
// Addresses the table holds at most, both families together: as many as Sentrel ever keeps.
constexpr std::size_t MaxEntries = 256;
// Entries a list reply carries at most: room for a table filled before the helper counted.
constexpr std::size_t MaxListed = 512;
constexpr std::size_t ListHeaderSize = HeaderSize + 3;
constexpr std::size_t MaxReplySize = ListHeaderSize + MaxListed * EntrySize;

enum class Op : std::uint8_t { None = 0, Add = 'a', Delete = 'd', List = 'l' };

struct Entry
{
    int family = 0; // AF_INET or AF_INET6
    std::array<std::uint8_t, 16> address {};
    std::uint32_t seconds = 0;
};

struct Request
{
    Op op = Op::None;
    std::size_t count = 0;
    std::array<Entry, MaxPerRequest> entries {};
};

enum Status : std::uint8_t {
    Done = 0,
    NotPermitted = 1,
    Failed = 2,
};

// What became of one address of an add or delete that was served.
enum Result : std::uint8_t {
    Taken = 0, // added, or deleted
    OwnAddress = 1, // one of this machine's addresses
    Gateway = 2, // a next hop of a default route
    Full = 3, // the table holds MaxEntries addresses already
    NotDone = 4, // the transaction failed, or the routes could not be read
};

// Addresses no intruder can have, or whose blocking would cut the machine off from itself or its
// link: unspecified and 0.0.0.0/8, loopback, link-local, multicast, the reserved 240/4 with the
// broadcast address; for IPv6 also IPv4-mapped ones, which the firewall never sees.
inline bool isRefusedAddress(int family, const std::uint8_t* a)
{
    if (family == AF_INET)
        return a[0] == 0 || a[0] == 127 || (a[0] == 169 && a[1] == 254) || a[0] >= 224;
    bool zeroUpTo15 = true;
    for (int i = 0; i < 15; ++i)
        zeroUpTo15 = zeroUpTo15 && a[i] == 0;
    bool mapped = a[10] == 0xff && a[11] == 0xff;
    for (int i = 0; i < 10; ++i)
        mapped = mapped && a[i] == 0;
    const bool linkLocal = a[0] == 0xfe && (a[1] & 0xc0) == 0x80;
    return (zeroUpTo15 && a[15] <= 1) || a[0] == 0xff || linkLocal || mapped;
}

inline std::size_t addressSize(int family)
{
    return family == AF_INET ? 4 : 16;
}

inline std::uint32_t readNumber(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

// Fills request only when the whole of data is a valid request and returns nullptr; otherwise it
// stays empty and the answer is why.
inline const char* parseRequest(const std::uint8_t* data, std::size_t size, Request& request)
{
    request.op = Op::None;
    request.count = 0;
    if (size < HeaderSize || size > MaxRequestSize)
        return "not the length of a request";
    if (data[0] != Magic0 || data[1] != Magic1 || data[2] != Version)
        return "not a request of this helper's protocol version";
    const auto op = Op(data[3]);
    if (op == Op::List)
        return size == HeaderSize ? (request.op = op, nullptr) : "not the length of a request";
    if (op != Op::Add && op != Op::Delete)
        return "neither add, delete nor list";
    if (size < HeaderSize + 1)
        return "not the length of a request";
    const std::size_t count = data[HeaderSize];
    if (count < 1 || count > MaxPerRequest)
        return "not 1 to 64 addresses";
    if (size != HeaderSize + 1 + count * EntrySize)
        return "not the length of a request";
    std::array<Entry, MaxPerRequest> entries {};
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* e = data + HeaderSize + 1 + i * EntrySize;
        if (e[0] != 4 && e[0] != 6)
            return "an address family other than 4 or 6";
        const int family = e[0] == 4 ? AF_INET : AF_INET6;
        for (std::size_t k = addressSize(family); k < 16; ++k) {
            if (e[1 + k] != 0)
                return "an address family other than 4 or 6";
        }
        if (isRefusedAddress(family, e + 1))
            return "an address that is never blocked";
        for (std::size_t j = 0; j < i; ++j) {
            if (entries[j].family == family && std::memcmp(entries[j].address.data(), e + 1, 16) == 0)
                return "the same address twice";
        }
        const std::uint32_t seconds = readNumber(e + 17);
        if (op == Op::Add ? seconds < 1 || seconds > MaxSeconds : seconds != 0)
            return "a time outside 1 to 86400 seconds, or one for a delete";
        entries[i].family = family;
        std::memcpy(entries[i].address.data(), e + 1, 16);
        entries[i].seconds = seconds;
    }
    request.op = op;
    request.count = count;
    request.entries = entries;
    return nullptr;
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
// The setup and three lines of at most 100 bytes per address.
constexpr std::size_t CommandRoom = 1024 + MaxPerRequest * 300;

// The command text for the entries of request whose result is Taken, from the parsed request
// only. Adding first puts the address in (so the delete that follows cannot fail), then writes it
// again with the new time: "add" alone would keep an existing entry's old expiry. Deleting
// likewise adds before it deletes, so deleting an address that is not there succeeds. false if
// it would not fit or no entry is taken.
inline bool buildCommand(const Request& request, const Result* results, char* out, std::size_t room)
{
    if (request.op == Op::List)
        return false;
    int written = std::snprintf(out, room, "%s", TableSetup);
    bool any = false;
    for (std::size_t i = 0; i < request.count && written > 0 && std::size_t(written) < room; ++i) {
        const Entry& e = request.entries[i];
        char text[INET6_ADDRSTRLEN] {};
        if (results[i] != Taken)
            continue;
        if (::inet_ntop(e.family, e.address.data(), text, sizeof text) == nullptr)
            return false;
        const char* set = e.family == AF_INET ? "blocked4" : "blocked6";
        char* at = out + written;
        const std::size_t left = room - std::size_t(written);
        const int n = request.op == Op::Add
            ? std::snprintf(at, left,
                  "add element inet sentrel %s { %s timeout 1s }\n"
                  "delete element inet sentrel %s { %s }\n"
                  "add element inet sentrel %s { %s timeout %us }\n",
                  set, text, set, text, set, text, unsigned(e.seconds))
            : std::snprintf(at, left,
                  "add element inet sentrel %s { %s timeout 1s }\n"
                  "delete element inet sentrel %s { %s }\n",
                  set, text, set, text);
        written = n < 0 ? -1 : written + n;
        any = true;
    }
    return any && written > 0 && std::size_t(written) < room;
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

// Decides what becomes of each address of an add: refused when it is one of the machine's own
// addresses or a gateway, or when taking it would hold more than MaxEntries; present: what the
// table holds now (an address already there takes no more room). Returns how many are taken.
inline std::size_t judgeAdds(const Request& request, const RouteDump::Kept& kept, const Listed* present,
    std::size_t presentCount, Result* results)
{
    std::size_t held = presentCount;
    std::size_t taken = 0;
    for (std::size_t i = 0; i < request.count; ++i) {
        const Entry& e = request.entries[i];
        const std::uint8_t family = e.family == AF_INET ? 4 : 6;
        bool there = false;
        for (std::size_t k = 0; k < presentCount && !there; ++k)
            there = present[k].family == family && std::memcmp(present[k].address.data(), e.address.data(), 16) == 0;
        if (RouteDump::holds(kept.own.data(), kept.ownCount, family, e.address.data()))
            results[i] = OwnAddress;
        else if (RouteDump::holds(kept.gateways.data(), kept.gatewayCount, family, e.address.data()))
            results[i] = Gateway;
        else if (!there && held >= MaxEntries)
            results[i] = Full;
        else
            results[i] = Taken;
        if (results[i] == Taken) {
            held += there ? 0 : 1;
            ++taken;
        }
    }
    return taken;
}

inline Status statusOfError(const char* error)
{
    return error && std::strstr(error, "Operation not permitted") ? NotPermitted : Failed;
}

// What every helper does to start, to fail and to give up its capability.
using namespace sentrel_helper;
constexpr const char* Name = "sentrel-block";

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

inline void putResults(Reply& reply, std::size_t count, const Result* results)
{
    reply.bytes[HeaderSize] = std::uint8_t(count);
    std::memcpy(reply.bytes.data() + HeaderSize + 1, results, count);
    reply.size = HeaderSize + 1 + count;
}

#ifndef SENTREL_BLOCK_NO_NFT
// Both sets' addresses into out; Done, or why not. No table yet: nothing was ever blocked.
inline Status listTable(nft_ctx* nft, Listed* out, std::size_t room, std::size_t& count, bool& more)
{
    count = 0;
    more = false;
    ::nft_ctx_output_set_flags(nft, NFT_CTX_OUTPUT_JSON);
    for (const int family : { AF_INET, AF_INET6 }) {
        const char* command = family == AF_INET ? "list set inet sentrel blocked4" : "list set inet sentrel blocked6";
        if (::nft_run_cmd_from_buffer(nft, command) != 0) {
            const char* error = ::nft_ctx_get_error_buffer(nft);
            if (error && std::strstr(error, "No such file or directory"))
                continue;
            return statusOfError(error);
        }
        count += parseListing(::nft_ctx_get_output_buffer(nft), family, out + count, room - count, more);
    }
    ::nft_ctx_output_set_flags(nft, 0);
    return Done;
}

// Holds every other run of this helper off until this one exits, so that two adds cannot both
// count the table below its bound: a lock on the helper's own file, which every run opens. Gives
// up after a few seconds (someone who may run the helper may also hold its file's lock).
inline bool lockTable()
{
    const int fd = ::open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
    for (int tries = 0; fd >= 0 && tries < 300; ++tries) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return true;
        ::usleep(10000);
    }
    return false;
}

// Runs the request against the kernel and fills the reply's status (and results or listing).
inline void serve(const Request& request, Reply& reply)
{
    reply.bytes[3] = Failed;
    std::array<Result, MaxPerRequest> results {};
    results.fill(request.op == Op::Delete ? Taken : NotDone);
    if (request.op != Op::List)
        putResults(reply, request.count, results.data());
    nft_ctx* nft = ::nft_ctx_new(NFT_CTX_DEFAULT);
    if (!nft) {
        std::fprintf(stderr, "sentrel-block: libnftables could not start\n");
        return;
    }
    ::nft_ctx_buffer_output(nft);
    ::nft_ctx_buffer_error(nft);
    static Listed entries[MaxListed];
    std::size_t count = 0;
    bool more = false;
    if (request.op == Op::List) {
        reply.bytes[3] = listTable(nft, entries, MaxListed, count, more);
        if (reply.bytes[3] == Done)
            putListing(reply, entries, count, more);
        ::nft_ctx_free(nft);
        return;
    }
    if (request.op == Op::Add) {
        static RouteDump::Kept kept;
        const bool locked = lockTable();
        if (!locked || !RouteDump::dump(kept)) {
            std::fprintf(stderr, "sentrel-block: %s\n",
                locked ? "the machine's addresses and routes could not be read" : "another run holds the table too long");
            ::nft_ctx_free(nft);
            return;
        }
        if (const Status listed = listTable(nft, entries, MaxListed, count, more); listed != Done) {
            reply.bytes[3] = listed;
            ::nft_ctx_free(nft);
            return;
        }
        judgeAdds(request, kept, entries, count, results.data());
    }
    static char command[CommandRoom];
    reply.bytes[3] = Done;
    if (buildCommand(request, results.data(), command, sizeof command)) {
        const bool ok = ::nft_run_cmd_from_buffer(nft, command) == 0;
        const char* error = ::nft_ctx_get_error_buffer(nft);
        if (!ok) {
            reply.bytes[3] = statusOfError(error);
            std::replace(results.begin(), results.end(), Taken, NotDone);
            if (error)
                std::fprintf(stderr, "sentrel-block: %s", error);
        }
    }
    putResults(reply, request.count, results.data());
    ::nft_ctx_free(nft);
}

inline int run(int argc)
{
    Request request;
    const auto why = [&request](const std::uint8_t* data, std::size_t size) { return parseRequest(data, size, request); };
    if (const int code = start<MaxRequestSize>(Name, argc, CAP_NET_ADMIN, why); code != Served)
        return code;
    static Reply reply;
    reply.bytes[0] = Magic0;
    reply.bytes[1] = Magic1;
    reply.bytes[2] = Version;
    serve(request, reply);
    if (!dropCapabilities())
        return fail(Name, Internal, "could not drop its capabilities");
    if (::send(STDIN_FILENO, reply.bytes.data(), reply.size, MSG_NOSIGNAL) != ssize_t(reply.size))
        return fail(Name, ReplyFailed, "the reply could not be sent");
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
