// libFuzzer target for the watch helper's request parser, its packet filter and the watch's header
// parser. The first byte picks the kernel's view of the packet (to this host or not; IPv4, IPv6 or
// another protocol); the rest is the packet. Whatever the bytes: the request parser accepts exactly
// its three bytes; the filter, run by a small interpreter of the kernel's rules, passes a packet
// exactly when it is to this host and the header parser reads it as a SYN without ACK or a segment
// with none of SYN, ACK, RST, and never passes a byte beyond the IP and fixed TCP headers; the
// header parser reads only what it was given and reports the bytes where they stand.
#define SENTREL_WATCH_NO_MAIN
#include "../sentrel-watch.cpp"
#include "../../src/platform/TcpHeaderParser.cpp"

namespace {
using namespace sentrel_watch;

void checkRequest(const std::uint8_t* data, std::size_t size)
{
    const bool exact = size == 3 && data[0] == 'S' && data[1] == 'W' && data[2] == 1;
    if ((parseRequest(data, size) == Parse::Ok) != exact)
        __builtin_trap();
}

// Classic BPF as the kernel runs it on a packet socket: a load past the end drops the packet.
std::uint32_t runFilter(const std::uint8_t* p, std::size_t size, std::uint32_t packetType, std::uint32_t protocol)
{
    constexpr auto program = filterProgram();
    std::uint32_t a = 0, x = 0, memory[16] = {};
    const auto load = [&](std::uint32_t at, std::uint32_t bytes, bool& ok) {
        std::uint32_t value = 0;
        ok = at + bytes <= size;
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

void checkFilterAndParser(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return;
    const std::uint32_t packetType = data[0] & 0x03 ? PACKET_OUTGOING : PACKET_HOST;
    const std::uint32_t protocols[] = { ETH_P_IP, ETH_P_IPV6, ETH_P_ARP, ETH_P_IP };
    const std::uint32_t protocol = protocols[data[0] >> 2 & 0x03];
    const std::uint8_t* packet = data + 1;
    const std::size_t length = size - 1;

    const std::uint32_t kept = runFilter(packet, length, packetType, protocol);
    const auto whole = TcpHeaderParser::parse(packet, length);
    const int family = length > 0 ? packet[0] >> 4 : 0;
    const std::size_t headers = family == 4 ? (packet[0] & 0x0f) * 4u + 20 : 60;
    // The parser also wants the IP length to leave room for TCP, which the filter does not look at.
    const bool lengthRoom = whole.has_value();
    if (whole) {
        if (whole->family != family || length < headers
            || whole->destinationPort != (packet[headers - 18] << 8 | packet[headers - 17])
            || whole->flags != packet[headers - 7])
            __builtin_trap();
        const auto cut = TcpHeaderParser::parse(packet, headers);
        if (!cut || cut->sequence != whole->sequence || cut->source != whole->source)
            __builtin_trap();
    }
    if (kept == 0) {
        const bool opensNothing = whole && ((whole->flags & (Syn | Ack)) == Syn || (whole->flags & (Syn | Ack | Rst)) == 0);
        if (opensNothing && packetType == PACKET_HOST && protocol == (family == 4 ? ETH_P_IP : ETH_P_IPV6))
            __builtin_trap(); // a probe the filter lost
        return;
    }
    if (packetType != PACKET_HOST || kept != headers || (family != 4 && family != 6))
        __builtin_trap(); // more than the headers, or a packet that is not to this host
    const std::uint8_t flags = packet[headers - 7];
    if ((flags & Ack) != 0 || (flags & (Syn | Rst)) == Rst)
        __builtin_trap(); // a segment of a connection
    if (lengthRoom && !TcpHeaderParser::parse(packet, kept))
        __builtin_trap(); // passed, but what it passes does not read
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    checkRequest(data, size);
    checkFilterAndParser(data, size);
    return 0;
}
