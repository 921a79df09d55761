#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <vector>

// One run of a small privileged helper program: started with one end of a Unix SOCK_SEQPACKET
// socket pair as its standard input and an empty environment, sent one request, its one reply
// and the descriptors riding on it taken, then reaped (ended at the deadline if it lingers).
// Nothing of the helper outlives the call.
struct HelperReply
{
    int startError = 0; // why the program could not be started (errno); 0 when it ran
    bool answered = false; // a whole reply came, not cut short, within the time
    std::vector<std::uint8_t> bytes;
    std::vector<int> fds; // the caller's to close, even when it does not use them
};

[[nodiscard]] HelperReply callHelper(const QString& path, const std::uint8_t* request, std::size_t size,
    std::size_t maxReply, std::size_t maxFds, int timeoutMs);
