#pragma once

#include <vector>

// Gets listening sockets for ports the program itself may not bind, from someone who may.
class PortBinder
{
public:
    enum class Outcome {
        Bound, // fd is a listening, non-blocking, dual-stack TCP socket on the port
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

    // One result per port, in the order asked.
    [[nodiscard]] virtual std::vector<Result> bindPorts(const std::vector<int>& ports) = 0;
};
