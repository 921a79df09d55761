// libFuzzer target for the watch helper's request parser, packet filter, segment reader and own
// addresses. The first byte picks the kernel's view of the packet (to this host or not; protocol), the
// rest is the packet and a list of address changes. The filter, run by an interpreter of the kernel's
// rules, passes exactly the probes to this host, never beyond the fixed TCP header, and what it passes
// reads as the whole packet does.
#define SENTREL_WATCH_NO_MAIN
#include "../../helper/sentrel-watch.cpp"

#include <algorithm>
#include <vector>

namespace {
using namespace sentrel_watch;

void checkRequest(const std::uint8_t* data, std::size_t size)
{
    const bool exact = size == 3 && data[0] == 'S' && data[1] == 'W' && data[2] == 2;
    if ((parseRequest(data, size) == nullptr) != exact)
        __builtin_trap();
}

// Classic BPF as the kernel runs it on a packet socket: a load past the end drops the packet.
std::uint32_t runFilter(const std::uint8_t* p, std::size_t size, std::uint32_t packetType, std::uint32_t protocol)
{
    constexpr auto program = filterProgram();
    std::uint32_t a = 0, x = 0, memory[16] = {};
    const auto load = [&](std::uint32_t at, std::uint32_t bytes, bool& ok) {
        std::uint32_t value = 0;
        ok = std::uint64_t(at) + bytes <= size;
        for (std::uint32_t i = 0; ok && i < bytes; ++i)
            value = value << 8 | p[at + i];
        return value;
    };
    for (std::size_t pc = 0; pc < program.size(); ++pc) {
        const sock_filter& s = program[pc];
        bool ok = true;
        switch (s.code) {
        case BPF_LD | BPF_W | BPF_ABS:
            if (s.k == std::uint32_t(SKF_AD_OFF + SKF_AD_PKTTYPE))
                a = packetType;
            else if (s.k == std::uint32_t(SKF_AD_OFF + SKF_AD_PROTOCOL))
                a = protocol;
            else
                a = load(s.k, 4, ok);
            break;
        case BPF_LD | BPF_H | BPF_ABS: a = load(s.k, 2, ok); break;
        case BPF_LD | BPF_B | BPF_ABS: a = load(s.k, 1, ok); break;
        case BPF_LD | BPF_B | BPF_IND: a = load(x + s.k, 1, ok); break;
        case BPF_LDX | BPF_B | BPF_MSH: x = (load(s.k, 1, ok) & 0x0f) * 4; break;
        case BPF_LD | BPF_IMM: a = s.k; break;
        case BPF_LD | BPF_MEM: a = memory[s.k]; break;
        case BPF_ST: memory[s.k] = a; break;
        case BPF_ALU | BPF_AND | BPF_K: a &= s.k; break;
        case BPF_ALU | BPF_ADD | BPF_K: a += s.k; break;
        case BPF_ALU | BPF_SUB | BPF_X: a -= x; break;
        case BPF_MISC | BPF_TXA: a = x; break;
        case BPF_JMP | BPF_JA: pc += s.k; break;
        case BPF_JMP | BPF_JEQ | BPF_K: pc += a == s.k ? s.jt : s.jf; break;
        case BPF_JMP | BPF_JGE | BPF_K: pc += a >= s.k ? s.jt : s.jf; break;
        case BPF_JMP | BPF_JSET | BPF_K: pc += (a & s.k) != 0 ? s.jt : s.jf; break;
        case BPF_RET | BPF_K: return s.k;
        case BPF_RET | BPF_A: return a;
        default: __builtin_trap(); // a statement this interpreter does not know
        }
        if (!ok)
            return 0;
    }
    __builtin_trap(); // ran off the end, which the kernel refuses
}

bool sameSegment(const Segment& a, const Segment& b)
{
    return a.family == b.family && a.fragment == b.fragment && a.flags == b.flags && a.sourcePort == b.sourcePort
        && a.destinationPort == b.destinationPort && a.sequence == b.sequence && a.source == b.source
        && a.destination == b.destination;
}

void checkFilterAndReader(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return;
    const std::uint32_t packetType = data[0] & 0x03 ? PACKET_OUTGOING : PACKET_HOST;
    const std::uint32_t protocols[] = { ETH_P_IP, ETH_P_IPV6, ETH_P_ARP, ETH_P_IP };
    const std::uint32_t protocol = protocols[data[0] >> 2 & 0x03];
    const std::uint8_t* packet = data + 1;
    const std::size_t length = size - 1;

    const std::uint32_t kept = runFilter(packet, length, packetType, protocol);
    const auto whole = readSegment(packet, length);
    const int family = length > 0 ? packet[0] >> 4 : 0;
    const bool fragmentHeader = family == 6 && length > 6 && packet[6] == FragmentProtocol;
    const std::size_t tcpAt = family == 4 ? (packet[0] & 0x0fu) * 4 : fragmentHeader ? 48 : 40;
    // A first fragment too short for the TCP header passes whatever its flags.
    std::uint32_t tcpLength = 0;
    bool shortFragment = false;
    if (family == 4 && length >= 8) {
        tcpLength = std::uint32_t(packet[2] << 8 | packet[3]) - std::uint32_t(tcpAt);
        shortFragment = (packet[6] & 0x20) != 0 && tcpLength < FixedTcpHeader;
    } else if (fragmentHeader && length >= 6) {
        // A payload too short even for the fragment header passes too; the reader refuses it.
        shortFragment = std::uint32_t(packet[4] << 8 | packet[5]) < FragmentHeader + FixedTcpHeader;
    }
    if (whole) {
        if (whole->family != family || (!whole->fragment && length < tcpAt + FixedTcpHeader)
            || whole->destinationPort != (packet[tcpAt + 2] << 8 | packet[tcpAt + 3]))
            __builtin_trap();
    }
    const auto opensNothing = [](std::uint8_t flags) {
        return (flags & (Syn | Ack)) == Syn || (flags & (Syn | Ack | Rst)) == 0;
    };
    if (kept == 0) {
        const bool wanted = whole
            && ((whole->fragment && shortFragment) || (length >= tcpAt + 14 && opensNothing(packet[tcpAt + 13])));
        if (wanted && packetType == PACKET_HOST && protocol == (family == 4 ? ETH_P_IP : ETH_P_IPV6))
            __builtin_trap(); // a probe the filter lost
        return;
    }
    if (packetType != PACKET_HOST || kept != tcpAt + FixedTcpHeader || (family != 4 && family != 6))
        __builtin_trap(); // more than the headers, or a packet that is not to this host
    if (!shortFragment) {
        if (length < tcpAt + 14 || !opensNothing(packet[tcpAt + 13]))
            __builtin_trap(); // a segment of a connection
    }
    // The helper reads only what the filter kept: it must read as the whole packet does.
    if (whole) {
        const auto cut = readSegment(packet, std::min<std::size_t>(kept, length));
        if (!cut || !sameSegment(*cut, *whole))
            __builtin_trap();
    }
}

// Each five bytes: add, remove or look up an IPv4 address drawn from a few, against a plain list.
void checkOwnAddresses(const std::uint8_t* data, std::size_t size)
{
    static OwnAddresses own(0x1234);
    own.clear();
    std::vector<std::array<std::uint8_t, 16>> plain;
    for (std::size_t at = 0; at + 5 <= size && at < 500; at += 5) {
        std::array<std::uint8_t, 16> address {};
        std::copy_n(data + at + 1, 4, address.begin());
        address[3] &= 0x0f; // a few addresses, so adds, removes and look-ups meet
        const auto found = std::find(plain.begin(), plain.end(), address);
        switch (data[at] % 3) {
        case 0:
            own.add(4, address.data());
            if (found == plain.end())
                plain.push_back(address);
            break;
        case 1:
            own.remove(4, address.data());
            if (found != plain.end())
                plain.erase(found);
            break;
        default:
            if (own.contains(4, address.data()) != (found != plain.end()) || own.contains(6, address.data()))
                __builtin_trap();
        }
        if (own.size() != plain.size())
            __builtin_trap();
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    checkRequest(data, size);
    checkFilterAndReader(data, size);
    checkOwnAddresses(data, size);
    return 0;
}
