#pragma once

#include <vector>

// Gets sockets for ports the program itself may not bind, from someone who may.
class PortBinder
{
public:
    enum class Protocol {
        Tcp, // listening sockets
        Udp, // bound datagram sockets
    };
    enum class Outcome {
        Bound, // fd is a non-blocking, dual-stack socket on the port: a listening TCP one, or UDP
        InUse, // another socket holds the port
        NotPermitted, // the binder may not bind it either
        Failed, // no answer, or an answer that could not be trusted
    };
    struct Result
    {
        Outcome outcome = Outcome::Failed;
        int fd = -1; // the caller's to close; -1 unless Bound
    };

    virtual ~PortBinder() = default;

    // One result per port, in the order asked, all of one protocol.
    [[nodiscard]] virtual std::vector<Result> bindPorts(
        const std::vector<int>& ports, Protocol protocol = Protocol::Tcp)
        = 0;
};
