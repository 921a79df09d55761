#pragma once

// What the firewall must never drop, as the kernel's routing netlink tells it: the machine's own
// addresses (and its subnets' broadcast addresses), and every next hop of every default route in
// every routing table, IPv4 and IPv6: the main table's first hop is not the only way out, a
// multipath route has several and policy routing sends some traffic through other tables.
// Taking every table's default routes, not only those a rule points to at this moment, refuses at
// most a few addresses more and cannot miss one a rule added a second later leads to.
//
// Header-only and free of Qt and of allocation: the firewall helper uses it as the program does,
// and its fuzzer drives the parser.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include <linux/if_addr.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace RouteDump {

struct Address
{
    std::uint8_t family = 0; // 4 or 6
    std::array<std::uint8_t, 16> bytes {}; // an IPv4 address in the first 4
};

struct Kept
{
    // Far beyond a desktop's addresses and gateways; a machine with more is not understood, and
    // then nothing counts as read.
    static constexpr std::size_t Room = 512;
    std::array<Address, Room> own {};
    std::size_t ownCount = 0;
    std::array<Address, Room> gateways {};
    std::size_t gatewayCount = 0;
    bool overflow = false;
};

inline bool same(const Address& a, std::uint8_t family, const std::uint8_t* bytes)
{
    return a.family == family && std::memcmp(a.bytes.data(), bytes, family == 4 ? 4 : 16) == 0;
}

inline bool holds(const Address* list, std::size_t count, std::uint8_t family, const std::uint8_t* bytes)
{
    for (std::size_t i = 0; i < count; ++i) {
        if (same(list[i], family, bytes))
            return true;
    }
    return false;
}

// Adds an address of the kernel's family (AF_INET, AF_INET6) carried in size bytes; anything
// else is ignored. Each address once.
inline void add(std::array<Address, Kept::Room>& list, std::size_t& count, bool& overflow, int kernelFamily,
    const void* data, std::size_t size)
{
    const std::uint8_t family = kernelFamily == AF_INET && size == 4 ? 4
        : kernelFamily == AF_INET6 && size == 16                     ? 6
                                                                     : 0;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    if (family == 0 || holds(list.data(), count, family, bytes))
        return;
    if (count == list.size()) {
        overflow = true;
        return;
    }
    list[count].family = family;
    list[count].bytes = {};
    std::memcpy(list[count].bytes.data(), bytes, size);
    ++count;
}

// One next hop's attributes: a gateway of the route's own family, or one of another (RTA_VIA: an
// IPv4 route through an IPv6 neighbour).
inline void addHops(Kept& kept, int family, const rtattr* attr, int length, bool inMultipath = false)
{
    for (; RTA_OK(attr, length); attr = RTA_NEXT(attr, length)) {
        const std::size_t payload = RTA_PAYLOAD(attr);
        if (attr->rta_type == RTA_GATEWAY) {
            add(kept.gateways, kept.gatewayCount, kept.overflow, family, RTA_DATA(attr), payload);
        } else if (attr->rta_type == RTA_VIA && payload >= sizeof(rtvia)) {
            const auto* via = static_cast<const rtvia*>(RTA_DATA(attr));
            add(kept.gateways, kept.gatewayCount, kept.overflow, via->rtvia_family, via->rtvia_addr,
                payload - sizeof(rtvia));
        } else if (attr->rta_type == RTA_MULTIPATH && !inMultipath) {
            auto* hop = static_cast<const rtnexthop*>(RTA_DATA(attr));
            auto left = int(payload);
            while (left >= int(sizeof(rtnexthop)) && hop->rtnh_len >= sizeof(rtnexthop)
                && hop->rtnh_len <= left) {
                addHops(kept, family, RTNH_DATA(hop), int(hop->rtnh_len - sizeof(rtnexthop)), true);
                left -= RTNH_ALIGN(hop->rtnh_len);
                hop = RTNH_NEXT(hop);
            }
        }
    }
}

// Reads one buffer of a dump's messages into kept. done is set at the dump's end; false when the
// kernel answered with an error. data must be 4-byte aligned and at most 2 GB.
inline bool read(const std::uint8_t* data, std::size_t size, Kept& kept, bool& done)
{
    auto* message = reinterpret_cast<const nlmsghdr*>(data);
    // Signed: the last message's alignment may take it below zero, which ends the loop.
    auto length = static_cast<int>(size);
    for (; NLMSG_OK(message, length); message = NLMSG_NEXT(message, length)) {
        if (message->nlmsg_type == NLMSG_DONE) {
            done = true;
            return true;
        }
        if (message->nlmsg_type == NLMSG_ERROR)
            return false;
        if (message->nlmsg_type == RTM_NEWADDR && message->nlmsg_len >= NLMSG_LENGTH(sizeof(ifaddrmsg))) {
            const auto* address = static_cast<const ifaddrmsg*>(NLMSG_DATA(message));
            int left = int(IFA_PAYLOAD(message));
            for (const rtattr* attr = IFA_RTA(address); RTA_OK(attr, left); attr = RTA_NEXT(attr, left)) {
                if (attr->rta_type == IFA_LOCAL || attr->rta_type == IFA_ADDRESS
                    || attr->rta_type == IFA_BROADCAST)
                    add(kept.own, kept.ownCount, kept.overflow, address->ifa_family, RTA_DATA(attr),
                        RTA_PAYLOAD(attr));
            }
        } else if (message->nlmsg_type == RTM_NEWROUTE && message->nlmsg_len >= NLMSG_LENGTH(sizeof(rtmsg))) {
            const auto* route = static_cast<const rtmsg*>(NLMSG_DATA(message));
            // A default route that leads somewhere: not unreachable, prohibit or blackhole.
            if (route->rtm_dst_len == 0 && route->rtm_type == RTN_UNICAST)
                addHops(kept, route->rtm_family, RTM_RTA(route), int(RTM_PAYLOAD(message)));
        }
    }
    return true;
}

// Asks the kernel for one dump (RTM_GETADDR or RTM_GETROUTE, both families, every table) and
// reads it whole. At most a few milliseconds: the kernel answers from memory.
inline bool dumpOne(int fd, std::uint16_t type, std::uint32_t sequence, Kept& kept)
{
    struct
    {
        nlmsghdr header;
        rtmsg body; // as large as ifaddrmsg and laid out alike where it matters: family first
    } request {};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = type;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = sequence;
    request.body.rtm_family = AF_UNSPEC;
    if (::send(fd, &request, sizeof request, 0) != ssize_t(sizeof request))
        return false;
    alignas(nlmsghdr) static thread_local std::uint8_t buffer[32768];
    for (bool done = false; !done;) {
        // MSG_TRUNC: the whole length, so that a message cut short is seen and not half read.
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, MSG_TRUNC);
        if (got <= 0 || std::size_t(got) > sizeof buffer || !read(buffer, std::size_t(got), kept, done))
            return false;
    }
    return !kept.overflow;
}

// The machine's addresses and gateways as the kernel has them now; false when they could not be
// read whole (no netlink here, a time-out, more than Kept::Room).
inline bool dump(Kept& kept)
{
    kept.ownCount = kept.gatewayCount = 0;
    kept.overflow = false;
    const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0)
        return false;
    const timeval timeout { 2, 0 };
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    const bool ok = dumpOne(fd, RTM_GETADDR, 1, kept) && dumpOne(fd, RTM_GETROUTE, 2, kept);
    ::close(fd);
    return ok;
}

} // namespace RouteDump
