#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>

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

// The pieces of such a run, for a helper that stays running (the packet watch's). spawnHelper
// returns the pid, or minus the reason the program could not be started; reapHelper waits for it
// to end on its own, ending it when it does not within timeoutMs.
[[nodiscard]] pid_t spawnHelper(const QByteArray& path, int channel);
void reapHelper(pid_t pid, int timeoutMs);

[[nodiscard]] HelperReply callHelper(const QString& path, const std::uint8_t* request, std::size_t size,
    std::size_t maxReply, std::size_t maxFds, int timeoutMs);
