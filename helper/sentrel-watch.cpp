// sentrel-watch: reads, for Sentrel, the TCP segments that open no connection (SYNs, and FIN,
// NULL, Xmas and the other flag mixes no real connection sends) and the fragments made to hide
// them, and tells Sentrel only who sent what to which port. The packet socket never leaves this
// process: Sentrel gets fixed-size header records, never a packet and never a descriptor that
// could read or send one. It is installed with the single file capability cap_net_raw; who may run
// it is the file system's business: the package makes it root:sentrel, mode 0750.
// Kept to this file and the start every helper shares (HelperStart.h), with no library beyond the
// C++ runtime, so it can be read in one sitting.
//
// What it does, and all it does:
//  - its standard input must be one end of a Unix SOCK_SEQPACKET socket pair; standard output and
//    standard error must be open (so no socket it makes can land on them);
//  - it reads one request, exactly 'S' 'W' version, and refuses anything else;
//  - it makes a packet socket that sees every interface, IPv4 and IPv6, and before the socket
//    sees a single packet attaches a filter that passes only segments the link layer addressed to
//    this host with SYN set and ACK clear, or with none of SYN, ACK, RST set, and first fragments
//    of TCP too short to hold the TCP header (and IPv6 atomic fragments); it cuts every packet it
//    passes to the IP header and at most the fixed TCP header; it locks the filter;
//  - it maps the socket's receive ring, follows this host's own addresses over rtnetlink (which
//    needs no privilege) and drops every capability;
//  - it replies with a status and, while the socket pair stays open, writes batches of records,
//    one per segment whose destination is one of this host's own addresses (a forwarded
//    container's or VM's segment is none of Sentrel's business). When Sentrel reads too slowly,
//    records are dropped and counted, never queued without bound; when Sentrel closes its end,
//    or anything more arrives on it, the helper exits.
// It takes no arguments, reads no environment, opens no file and starts no program.
//
// Request: 'S' 'W' version.
// Reply:   'S' 'W' version status. When the status is Armed, batches follow, each one message:
//   'S' 'R' version 0, u32 kernel drops, u32 helper drops (both since the last batch), then up to
//   MaxRecords records of RecordSize bytes: family (4 or 6), facts (bit 0: a fragmented probe),
//   TCP flags, 0, source port, destination port, source address, destination address (16 bytes
//   each; IPv4 fills the first four), sequence number. Every number is in network byte order.

#include <array>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/filter.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <unistd.h>

#include "HelperStart.h"

namespace sentrel_watch {

constexpr std::uint8_t Magic0 = 'S';
constexpr std::uint8_t Magic1 = 'W';
constexpr std::uint8_t Version = 2;
constexpr std::size_t RequestSize = 3, ReplySize = 4;

enum Status : std::uint8_t {
    Armed = 0,
    NotPermitted = 1,
    Failed = 2,
};

// nullptr for the one request there is; else why not.
inline const char* parseRequest(const std::uint8_t* data, std::size_t size)
{
    if (size != RequestSize)
        return "a request is exactly three bytes";
    if (data[0] != Magic0 || data[1] != Magic1 || data[2] != Version)
        return "not a request of this helper's protocol version";
    return nullptr;
}

// TCP flag bits, in the 14th byte of the TCP header.
constexpr std::uint32_t Syn = 0x02;
constexpr std::uint32_t Rst = 0x04;
constexpr std::uint32_t Ack = 0x10;
constexpr std::uint32_t FixedTcpHeader = 20;
constexpr std::uint32_t Ipv6Header = 40;
constexpr std::uint32_t FragmentHeader = 8;
constexpr std::uint32_t TcpProtocol = 6;
constexpr std::uint32_t FragmentProtocol = 44;

// The filter, in classic BPF. Offsets count from the IP header (a SOCK_DGRAM packet socket).
// What it returns is how many bytes of the packet the helper gets: 0 drops it. It keeps the
// length to take in scratch slot 0 so that all paths share the flag test. The kernel refuses a
// program that jumps backwards or out of it, and answers a load past the end of a short packet
// with "drop". Jump offsets count the statements skipped.
//
// Fragments: the kernel reassembles after packet sockets have seen the pieces, so the filter sees
// a fragmented segment only as its fragments. A later fragment holds no TCP header and is dropped;
// a first fragment holding the whole fixed TCP header is judged by its flags like any segment; a
// first fragment too short for that is a probe split to slip past filters (no path splits a
// datagram that finely) and passes whatever it holds; so does an IPv6 atomic fragment (offset 0,
// no more fragments), which no sender needs, when it is not part of a connection.
constexpr std::size_t FilterLength = 49;
inline constexpr std::array<sock_filter, FilterLength> filterProgram()
{
    return { {
        // 0: only packets the link layer addressed to this host: never one it sends (loopback
        // shows each segment once outgoing and once incoming), nor another host's seen in
        // promiscuous mode. Whether the IP address is this host's is the helper's to check.
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, std::uint32_t(SKF_AD_OFF + SKF_AD_PKTTYPE)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, PACKET_HOST, 0, 46),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, std::uint32_t(SKF_AD_OFF + SKF_AD_PROTOCOL)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ETH_P_IP, 1, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ETH_P_IPV6, 19, 43),
        // 5: IPv4 carrying TCP, no later fragment (an offset)
        BPF_STMT(BPF_LD | BPF_B | BPF_ABS, 0),
        BPF_STMT(BPF_ALU | BPF_AND | BPF_K, 0xf0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0x40, 0, 40),
        BPF_STMT(BPF_LD | BPF_B | BPF_ABS, 9),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, TcpProtocol, 0, 38),
        BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 6),
        BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, 0x1fff, 36, 0),
        // 12: X = the IPv4 header's length (at least 20); keep it plus the TCP header
        BPF_STMT(BPF_LDX | BPF_B | BPF_MSH, 0),
        BPF_STMT(BPF_MISC | BPF_TXA, 0),
        BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, 20, 0, 33),
        BPF_STMT(BPF_ALU | BPF_ADD | BPF_K, FixedTcpHeader),
        BPF_STMT(BPF_ST, 0),
        // 17: a first fragment ("more fragments" set) shorter than the fixed TCP header passes
        BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 6),
        BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, 0x2000, 0, 3),
        BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 2),
        BPF_STMT(BPF_ALU | BPF_SUB | BPF_X, 0),
        BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, FixedTcpHeader, 0, 24),
        // 22: the flags
        BPF_STMT(BPF_LD | BPF_B | BPF_IND, 13),
        BPF_JUMP(BPF_JMP | BPF_JA, 19, 0, 0),
        // 24: IPv6 whose next header is TCP, or a fragment header and then TCP: any other
        // extension header in between is dropped
        BPF_STMT(BPF_LD | BPF_B | BPF_ABS, 0),
        BPF_STMT(BPF_ALU | BPF_AND | BPF_K, 0xf0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0x60, 0, 21),
        BPF_STMT(BPF_LD | BPF_B | BPF_ABS, 6),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, TcpProtocol, 11, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, FragmentProtocol, 0, 18),
        // 30: a fragment header of TCP at offset 0 (a first or an atomic fragment)
        BPF_STMT(BPF_LD | BPF_B | BPF_ABS, Ipv6Header),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, TcpProtocol, 0, 16),
        BPF_STMT(BPF_LD | BPF_H | BPF_ABS, Ipv6Header + 2),
        BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, 0xfff8, 14, 0),
        BPF_STMT(BPF_LD | BPF_IMM, Ipv6Header + FragmentHeader + FixedTcpHeader),
        BPF_STMT(BPF_ST, 0),
        // 36: shorter than the fixed TCP header: passes; else the flags decide
        BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 4),
        BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, FragmentHeader + FixedTcpHeader, 0, 8),
        BPF_STMT(BPF_LD | BPF_B | BPF_ABS, Ipv6Header + FragmentHeader + 13),
        BPF_JUMP(BPF_JMP | BPF_JA, 3, 0, 0),
        // 40: plain IPv6 and TCP
        BPF_STMT(BPF_LD | BPF_IMM, Ipv6Header + FixedTcpHeader),
        BPF_STMT(BPF_ST, 0),
        BPF_STMT(BPF_LD | BPF_B | BPF_ABS, Ipv6Header + 13),
        // 43: A = the flags. SYN without ACK (a connection's first segment, or a half-open
        // probe) passes; so does anything without SYN, ACK and RST (FIN, NULL, Xmas). Every other
        // segment of a connection carries ACK or RST and is dropped.
        BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, Ack, 4, 0),
        BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, Syn | Rst, 0, 1),
        BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, Syn, 0, 2),
        // 46: pass the headers; 48: drop. Passing comes first: the kernel's check follows a
        // return into the next statement as if it ran, and would find slot 0 unset there.
        BPF_STMT(BPF_LD | BPF_MEM, 0),
        BPF_STMT(BPF_RET | BPF_A, 0),
        BPF_STMT(BPF_RET | BPF_K, 0),
    } };
}

// One segment as the filter hands it over, read: the addresses, ports and flags a record carries.
struct Segment
{
    std::uint8_t family = 0; // 4 or 6
    bool fragment = false; // a first fragment too short for the TCP header, or an IPv6 atomic one
    std::uint8_t flags = 0; // 0 when the fragment does not hold them
    std::uint16_t sourcePort = 0;
    std::uint16_t destinationPort = 0;
    std::uint32_t sequence = 0; // 0 when the fragment does not hold it
    // IPv4 addresses fill the first four bytes, the rest stays zero.
    std::array<std::uint8_t, 16> source {};
    std::array<std::uint8_t, 16> destination {};
};

inline std::uint16_t read16(const std::uint8_t* at)
{
    return std::uint16_t(at[0] << 8 | at[1]);
}

inline std::uint32_t read32(const std::uint8_t* at)
{
    return std::uint32_t(at[0]) << 24 | std::uint32_t(at[1]) << 16 | std::uint32_t(at[2]) << 8 | at[3];
}

// Nothing unless the bytes hold a whole IP header of TCP (at most a fragment header after IPv6),
// the first piece of the segment, its ports, and, unless it is a fragmented probe, the whole
// fixed TCP header, all within the length the IP header gives.
inline std::optional<Segment> readSegment(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return std::nullopt;
    Segment segment;
    std::size_t tcp = 0;
    std::size_t tcpLength = 0; // what the IP header says follows
    bool moreFragments = false;
    if (data[0] >> 4 == 4) {
        tcp = std::size_t(data[0] & 0x0f) * 4;
        if (tcp < 20 || size < tcp || data[9] != TcpProtocol || (read16(data + 6) & 0x1fff) != 0
            || read16(data + 2) < tcp)
            return std::nullopt;
        tcpLength = read16(data + 2) - tcp;
        moreFragments = (read16(data + 6) & 0x2000) != 0;
        segment.fragment = moreFragments && tcpLength < FixedTcpHeader;
        segment.family = 4;
        std::memcpy(segment.source.data(), data + 12, 4);
        std::memcpy(segment.destination.data(), data + 16, 4);
    } else if (data[0] >> 4 == 6) {
        tcp = Ipv6Header;
        if (size < tcp)
            return std::nullopt;
        tcpLength = read16(data + 4);
        if (data[6] == FragmentProtocol) {
            tcp += FragmentHeader;
            if (size < tcp || data[Ipv6Header] != TcpProtocol || (read16(data + Ipv6Header + 2) & 0xfff8) != 0
                || tcpLength < FragmentHeader)
                return std::nullopt;
            tcpLength -= FragmentHeader;
            moreFragments = (data[Ipv6Header + 3] & 1) != 0;
            segment.fragment = !moreFragments || tcpLength < FixedTcpHeader;
        } else if (data[6] != TcpProtocol) {
            return std::nullopt;
        }
        segment.family = 6;
        std::memcpy(segment.source.data(), data + 8, 16);
        std::memcpy(segment.destination.data(), data + 24, 16);
    } else {
        return std::nullopt;
    }
    const std::size_t held = size - tcp < tcpLength ? size - tcp : tcpLength;
    const bool whole = held >= FixedTcpHeader;
    // A fragment with fewer bytes than the ports names no port to guard: nothing to report.
    if (segment.fragment ? held < 4 : !whole)
        return std::nullopt;
    segment.sourcePort = read16(data + tcp);
    segment.destinationPort = read16(data + tcp + 2);
    if (held >= 8)
        segment.sequence = read32(data + tcp + 4);
    if (held >= 14)
        segment.flags = data[tcp + 13];
    return segment;
}

// The records, as the header at the top says.
constexpr std::size_t BatchHeaderSize = 12;
constexpr std::size_t RecordSize = 44;
constexpr std::size_t MaxRecords = 1024;
constexpr std::uint8_t RecordMagic1 = 'R';
constexpr std::uint8_t FragmentFact = 0x01;

inline void writeRecord(const Segment& s, std::uint8_t* at)
{
    at[0] = s.family;
    at[1] = s.fragment ? FragmentFact : 0;
    at[2] = s.flags;
    at[3] = 0;
    at[4] = std::uint8_t(s.sourcePort >> 8), at[5] = std::uint8_t(s.sourcePort);
    at[6] = std::uint8_t(s.destinationPort >> 8), at[7] = std::uint8_t(s.destinationPort);
    std::memcpy(at + 8, s.source.data(), 16);
    std::memcpy(at + 24, s.destination.data(), 16);
    for (int i = 0; i < 4; ++i)
        at[40 + i] = std::uint8_t(s.sequence >> (24 - 8 * i));
}

inline void writeBatchHeader(std::uint32_t kernelDrops, std::uint32_t helperDrops, std::uint8_t* at)
{
    at[0] = Magic0, at[1] = RecordMagic1, at[2] = Version, at[3] = 0;
    for (int i = 0; i < 4; ++i) {
        at[4 + i] = std::uint8_t(kernelDrops >> (24 - 8 * i));
        at[8 + i] = std::uint8_t(helperDrops >> (24 - 8 * i));
    }
}

// This host's own addresses, as a set with a lookup that costs the same however many there are:
// open addressing over twice as many slots as addresses, keyed with a seed an attacker cannot
// know. Changes are rare (an interface comes or goes), so each one rebuilds the table from the
// list; every packet only looks up.
class OwnAddresses
{
public:
    static constexpr std::size_t MaxAddresses = 4096;

    explicit OwnAddresses(std::uint64_t seed = 0)
        : m_seed(seed | 1)
    {
    }

    bool contains(std::uint8_t family, const std::uint8_t* bytes) const
    {
        const Key key = keyOf(family, bytes);
        for (std::size_t i = slotOf(key);; i = (i + 1) % Slots) {
            if (m_table[i].family == 0)
                return false;
            if (m_table[i] == key)
                return true;
        }
    }
    // False when the list is full: one more address would not be known.
    bool add(std::uint8_t family, const std::uint8_t* bytes)
    {
        const Key key = keyOf(family, bytes);
        if (contains(family, bytes))
            return true;
        if (m_count == MaxAddresses)
            return false;
        m_list[m_count++] = key;
        insert(key);
        return true;
    }
    void remove(std::uint8_t family, const std::uint8_t* bytes)
    {
        const Key key = keyOf(family, bytes);
        for (std::size_t i = 0; i < m_count; ++i) {
            if (m_list[i] == key) {
                m_list[i] = m_list[--m_count];
                rebuild();
                return;
            }
        }
    }
    void clear()
    {
        m_count = 0;
        rebuild();
    }
    std::size_t size() const { return m_count; }

private:
    static constexpr std::size_t Slots = 2 * MaxAddresses;
    struct Key
    {
        std::uint64_t high = 0;
        std::uint64_t low = 0;
        std::uint8_t family = 0; // 0: an empty slot
        bool operator==(const Key&) const = default;
    };
    static Key keyOf(std::uint8_t family, const std::uint8_t* bytes)
    {
        Key key;
        key.family = family;
        std::memcpy(&key.high, bytes, family == 4 ? 4 : 8);
        if (family != 4)
            std::memcpy(&key.low, bytes + 8, 8);
        return key;
    }
    std::size_t slotOf(const Key& key) const
    {
        std::uint64_t hash = (key.high ^ m_seed ^ key.family) * 0x9e3779b97f4a7c15ULL;
        hash = (hash ^ (hash >> 29) ^ key.low) * 0xbf58476d1ce4e5b9ULL;
        return std::size_t(hash ^ (hash >> 32)) % Slots;
    }
    void insert(const Key& key)
    {
        std::size_t i = slotOf(key);
        while (m_table[i].family != 0)
            i = (i + 1) % Slots;
        m_table[i] = key;
    }
    void rebuild()
    {
        m_table.fill(Key {});
        for (std::size_t i = 0; i < m_count; ++i)
            insert(m_list[i]);
    }

    std::uint64_t m_seed;
    std::size_t m_count = 0;
    std::array<Key, MaxAddresses> m_list {};
    std::array<Key, Slots> m_table {};
};

// Applies one rtnetlink message about an address to the set; false for any other message.
inline bool applyAddressMessage(const nlmsghdr* message, OwnAddresses& own)
{
    if (message->nlmsg_type != RTM_NEWADDR && message->nlmsg_type != RTM_DELADDR)
        return false;
    if (message->nlmsg_len < NLMSG_LENGTH(sizeof(ifaddrmsg)))
        return false;
    const auto* info = static_cast<const ifaddrmsg*>(NLMSG_DATA(message));
    const std::uint8_t family = info->ifa_family == AF_INET ? 4 : info->ifa_family == AF_INET6 ? 6 : 0;
    if (family == 0)
        return false;
    const std::size_t length = family == 4 ? 4 : 16;
    const std::uint8_t* local = nullptr;
    const std::uint8_t* address = nullptr;
    int room = int(IFA_PAYLOAD(message));
    for (const rtattr* a = IFA_RTA(info); RTA_OK(a, room); a = RTA_NEXT(a, room)) {
        if (RTA_PAYLOAD(a) != length)
            continue;
        if (a->rta_type == IFA_LOCAL)
            local = static_cast<const std::uint8_t*>(RTA_DATA(a));
        else if (a->rta_type == IFA_ADDRESS)
            address = static_cast<const std::uint8_t*>(RTA_DATA(a));
    }
    // IFA_LOCAL is this end where a point-to-point link gives IFA_ADDRESS to the peer.
    const std::uint8_t* mine = local ? local : address;
    if (!mine)
        return false;
    std::array<std::uint8_t, 16> bytes {};
    std::memcpy(bytes.data(), mine, length);
    if (message->nlmsg_type == RTM_NEWADDR)
        own.add(family, bytes.data());
    else
        own.remove(family, bytes.data());
    return true;
}

// Follows the address changes of this network namespace; a dump tells the ones there already.
class AddressWatch
{
public:
    bool open()
    {
        m_fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_ROUTE);
        sockaddr_nl local {};
        local.nl_family = AF_NETLINK;
        local.nl_groups = RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR;
        return m_fd >= 0 && ::bind(m_fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0
            && requestDump();
    }
    int fd() const { return m_fd; }
    bool dumping() const { return m_dumping; }

    // Reads what is waiting. When the kernel had to drop notifications (a burst of changes
    // overflowed the socket), the set is read again from scratch.
    void read(OwnAddresses& own)
    {
        alignas(nlmsghdr) static std::uint8_t buffer[32768];
        for (;;) {
            const ssize_t size = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (size < 0 && errno == ENOBUFS) {
                own.clear();
                m_dumping = false;
                requestDump();
                continue;
            }
            if (size <= 0)
                return;
            int room = int(size);
            for (auto* message = reinterpret_cast<const nlmsghdr*>(buffer); NLMSG_OK(message, room);
                 message = NLMSG_NEXT(message, room)) {
                if (message->nlmsg_type == NLMSG_DONE || message->nlmsg_type == NLMSG_ERROR)
                    m_dumping = false;
                else
                    applyAddressMessage(message, own);
            }
        }
    }

private:
    bool requestDump()
    {
        struct
        {
            nlmsghdr header;
            ifaddrmsg body;
        } request {};
        request.header.nlmsg_len = sizeof request;
        request.header.nlmsg_type = RTM_GETADDR;
        request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
        request.header.nlmsg_seq = 1;
        request.body.ifa_family = AF_UNSPEC;
        m_dumping = ::send(m_fd, &request, sizeof request, 0) == ssize_t(sizeof request);
        return m_dumping;
    }

    int m_fd = -1;
    bool m_dumping = false;
};

// The socket's receive ring (TPACKET_V3): the kernel writes each packet straight into memory this
// process maps and hands it over a block of packets at a time, so a flood costs no copy and no
// system call per packet, and one wake-up per block instead of one per few packets. A block is
// handed over when full or RetireMs after its first packet: a lone probe waits at most that long.
class PacketRing
{
public:
    static constexpr unsigned RetireMs = 10;
    static constexpr unsigned BlockSize = 1 << 16;
    static constexpr unsigned BlockCount = 64;

    bool attach(int fd)
    {
        const int version = TPACKET_V3;
        if (::setsockopt(fd, SOL_PACKET, PACKET_VERSION, &version, sizeof version) != 0)
            return false;
        tpacket_req3 request {};
        request.tp_block_size = BlockSize;
        request.tp_block_nr = BlockCount;
        // Packets in a block take only the room they need; the frame size only has to divide it.
        request.tp_frame_size = 2048;
        request.tp_frame_nr = BlockSize / request.tp_frame_size * BlockCount;
        request.tp_retire_blk_tov = RetireMs;
        if (::setsockopt(fd, SOL_PACKET, PACKET_RX_RING, &request, sizeof request) != 0)
            return false;
        void* memory
            = ::mmap(nullptr, std::size_t(BlockSize) * BlockCount, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (memory == MAP_FAILED)
            return false;
        m_memory = static_cast<std::uint8_t*>(memory);
        return true;
    }

    // Calls visit(data, size) for each packet (the network header on) of the handed-over blocks,
    // at most one round of the ring, giving each back; returns how many blocks it read.
    template <typename Visit> unsigned read(Visit&& visit)
    {
        unsigned blocks = 0;
        for (; blocks < BlockCount; ++blocks) {
            auto* const desc
                = reinterpret_cast<tpacket_block_desc*>(m_memory + std::size_t(m_next) * BlockSize);
            tpacket_hdr_v1& header = desc->hdr.bh1;
            if ((__atomic_load_n(&header.block_status, __ATOMIC_ACQUIRE) & TP_STATUS_USER) == 0)
                break;
            const std::uint8_t* const start = reinterpret_cast<const std::uint8_t*>(desc);
            std::size_t offset = header.offset_to_first_pkt;
            for (std::uint32_t i = 0; i < header.num_pkts && offset + sizeof(tpacket3_hdr) <= BlockSize;
                 ++i) {
                const auto* packet = reinterpret_cast<const tpacket3_hdr*>(start + offset);
                if (offset + packet->tp_net + packet->tp_snaplen <= BlockSize)
                    visit(start + offset + packet->tp_net, std::size_t(packet->tp_snaplen));
                if (packet->tp_next_offset == 0)
                    break;
                offset += packet->tp_next_offset;
            }
            __atomic_store_n(&header.block_status, TP_STATUS_KERNEL, __ATOMIC_RELEASE);
            m_next = (m_next + 1) % BlockCount;
        }
        return blocks;
    }

private:
    std::uint8_t* m_memory = nullptr;
    unsigned m_next = 0;
};

// Hashes of the latest segments, one slot per hash value: a segment seen on two interfaces (a
// bridge and its port, a VLAN and its link) arrives twice within microseconds and counts once.
class RecentSegments
{
public:
    bool seenBefore(const Segment& s)
    {
        std::uint64_t words[4];
        std::memcpy(words, s.source.data(), 16);
        std::memcpy(words + 2, s.destination.data(), 16);
        std::uint64_t hash
            = std::uint64_t(s.sourcePort) << 48 | std::uint64_t(s.destinationPort) << 32 | s.sequence;
        hash = (hash ^ s.flags ^ std::uint64_t(s.fragment) << 8) * 0x9e3779b97f4a7c15ULL;
        for (const std::uint64_t word : words)
            hash = (hash ^ (hash >> 31) ^ word) * 0xbf58476d1ce4e5b9ULL;
        hash = (hash ^ (hash >> 29)) | 1; // 0 marks an empty slot
        std::uint64_t& slot = m_slots[(hash >> 1) % m_slots.size()]; // the low bit is always set
        if (slot == hash)
            return true;
        slot = hash;
        return false;
    }

private:
    std::array<std::uint64_t, 4096> m_slots {};
};

// Collects records and writes them as one message each. Never waits for the reader: what it
// cannot take now is dropped and counted, and the count rides on the next batch that goes out.
class BatchWriter
{
public:
    explicit BatchWriter(int channel)
        : m_channel(channel)
    {
    }
    // False once the reader is gone.
    bool add(const Segment& segment)
    {
        writeRecord(segment, m_buffer.data() + BatchHeaderSize + m_count * RecordSize);
        return ++m_count < MaxRecords || flush();
    }
    void kernelDropped(std::uint32_t count) { m_kernelDrops = saturate(m_kernelDrops, count); }
    bool pendingDrops() const { return m_kernelDrops != 0 || m_helperDrops != 0; }
    bool flush()
    {
        if (m_count == 0 && !pendingDrops())
            return true;
        writeBatchHeader(m_kernelDrops, m_helperDrops, m_buffer.data());
        const std::size_t size = BatchHeaderSize + m_count * RecordSize;
        const ssize_t sent = ::send(m_channel, m_buffer.data(), size, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent == ssize_t(size)) {
            m_kernelDrops = m_helperDrops = 0;
        } else if (errno == EAGAIN || errno == ENOBUFS) {
            m_helperDrops = saturate(m_helperDrops, std::uint32_t(m_count));
        } else {
            return false;
        }
        m_count = 0;
        return true;
    }

private:
    static std::uint32_t saturate(std::uint32_t a, std::uint32_t b) { return a + b < a ? ~0U : a + b; }

    int m_channel;
    std::size_t m_count = 0;
    std::uint32_t m_kernelDrops = 0;
    std::uint32_t m_helperDrops = 0;
    std::array<std::uint8_t, BatchHeaderSize + MaxRecords * RecordSize> m_buffer {};
};

// What every helper does to start, to fail and to give up its capability.
using namespace sentrel_helper;
constexpr const char* Name = "sentrel-watch";

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

inline int sendReply(int channel, Status status)
{
    const std::array<std::uint8_t, ReplySize> reply { Magic0, Magic1, Version, status };
    if (::send(channel, reply.data(), reply.size(), MSG_NOSIGNAL) != ssize_t(reply.size()))
        return fail(Name, ReplyFailed, "the reply could not be sent");
    return Served;
}

// Reads packets, keeps the addresses current and writes records until the reader goes away.
inline int watch(int channel, int packets, PacketRing& ring, AddressWatch& addresses, OwnAddresses& own)
{
    BatchWriter out(channel);
    RecentSegments recent;
    bool readerGone = false;
    const auto visit = [&](const std::uint8_t* data, std::size_t size) {
        const auto segment = readSegment(data, size);
        if (readerGone || !segment || !own.contains(segment->family, segment->destination.data())
            || recent.seenBefore(*segment))
            return;
        readerGone = !out.add(*segment);
    };
    for (;;) {
        pollfd ready[] = { { channel, POLLIN, 0 }, { packets, POLLIN, 0 }, { addresses.fd(), POLLIN, 0 } };
        // Drops the reader has not heard of are offered again a little later; and the ring is
        // looked at once a second even without a wake-up, should the kernel's ever be missed.
        if (::poll(ready, 3, out.pendingDrops() ? 100 : 1000) < 0 && errno != EINTR)
            return fail(Name, Internal, "poll failed");
        // The reader never writes after its request: input or a hang-up means it is done.
        if (ready[0].revents != 0)
            return Served;
        if (ready[2].revents != 0)
            addresses.read(own);
        ring.read(visit);
        tpacket_stats_v3 counts {};
        socklen_t length = sizeof counts;
        if (::getsockopt(packets, SOL_PACKET, PACKET_STATISTICS, &counts, &length) == 0)
            out.kernelDropped(counts.tp_drops);
        if (readerGone || !out.flush())
            return Served;
    }
}

inline int run(int argc)
{
    // A reader that went away mid-write must not end the helper by a signal it never asked for.
    std::signal(SIGPIPE, SIG_IGN);
    const auto why = [](const std::uint8_t* data, std::size_t size) { return parseRequest(data, size); };
    if (const int code = start<RequestSize>(Name, argc, CAP_NET_RAW, why); code != Served)
        return code;
    const int fd = openWatchSocket();
    Status status = fd >= 0 ? Armed : statusOf(errno);
    if (fd < 0)
        std::fprintf(stderr, "sentrel-watch: no packet socket: %s\n", std::strerror(errno));
    static PacketRing ring;
    static AddressWatch addresses;
    std::uint64_t seed = 0;
    if (::getrandom(&seed, sizeof seed, 0) != ssize_t(sizeof seed))
        seed = std::uint64_t(::getpid()) * 0x9e3779b97f4a7c15ULL;
    static OwnAddresses own(seed);
    if (status == Armed && (!ring.attach(fd) || !addresses.open())) {
        std::fprintf(stderr, "sentrel-watch: no receive ring or address list: %s\n", std::strerror(errno));
        status = Failed;
    }
    if (!dropCapabilities())
        return fail(Name, Internal, "could not drop its capabilities");
    // The addresses there already, before the first packet is judged by them.
    for (pollfd ready { addresses.fd(), POLLIN, 0 }; status == Armed && addresses.dumping();) {
        if (::poll(&ready, 1, RequestTimeoutMs) != 1)
            return fail(Name, Internal, "the list of this host's addresses did not come");
        addresses.read(own);
    }
    // Room for a few full batches on the way (the kernel doubles it for its bookkeeping), and no
    // more: what a reader that fell behind has not taken by then is dropped and counted.
    const int room = 1 << 18;
    ::setsockopt(STDIN_FILENO, SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
    if (const int code = sendReply(STDIN_FILENO, status); code != Served || status != Armed)
        return code;
    return watch(STDIN_FILENO, fd, ring, addresses, own);
}

} // namespace sentrel_watch

#ifndef SENTREL_WATCH_NO_MAIN
int main(int argc, char**)
{
    return sentrel_watch::run(argc);
}
#endif
