#pragma once

#include "IpAddress.h"

#include <cstdint>

// One inbound TCP segment that the packet watch let through: who sent it, to which port, with
// which flags. The watch never hands over more than these header fields, so there is no payload
// to carry.
struct TcpProbe
{
    enum Flag : std::uint8_t {
        Fin = 0x01,
        Syn = 0x02,
        Rst = 0x04,
        Psh = 0x08,
        Ack = 0x10,
        Urg = 0x20,
    };

    IpAddress source;
    std::uint16_t sourcePort = 0;
    IpAddress destination;
    std::uint16_t destinationPort = 0;
    std::uint8_t flags = 0;
    // Of a SYN, the connection's initial sequence number: a SYN seen twice with the same one is
    // one connection attempt, a new attempt from the same port has a new one.
    std::uint32_t sequence = 0;
    // The first piece of a segment split into fragments too small for its TCP header, or an IPv6
    // atomic fragment: a probe made to slip past filters. Its flags may be missing (0).
    bool fragment = false;
};
