#include "HelperPortBinder.h"

#include "HelperCall.h"

#include <array>
#include <cstdint>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// The helper's wire format, which it documents at its top.
constexpr std::uint8_t Magic0 = 'S';
constexpr std::uint8_t Magic1 = 'B';
constexpr std::uint8_t Version = 1;
constexpr std::size_t HeaderSize = 4;
constexpr std::size_t EntrySize = 3;
constexpr std::size_t MaxPorts = HelperPortBinder::MaxPortsPerRun;

bool isListeningStream(int fd)
{
    int listening = 0;
    int type = 0;
    socklen_t length = sizeof listening;
    if (::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &length) != 0 || listening != 1)
        return false;
    length = sizeof type;
    if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) != 0 || type != SOCK_STREAM)
        return false;
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

PortBinder::Outcome outcomeOf(std::uint8_t status)
{
    switch (status) {
    case 0:
        return PortBinder::Outcome::Bound;
    case 1:
        return PortBinder::Outcome::InUse;
    case 2:
        return PortBinder::Outcome::NotPermitted;
    default:
        return PortBinder::Outcome::Failed;
    }
}

// Matches the reply against the request; on any mismatch every descriptor is closed and the
// result is empty.
std::vector<PortBinder::Result> decodeReply(
    const std::vector<int>& ports, const std::uint8_t* reply, std::size_t size, std::vector<int> fds)
{
    std::vector<PortBinder::Result> results(ports.size());
    std::size_t next = 0;
    bool valid = size == HeaderSize + EntrySize * ports.size() && reply[0] == Magic0 && reply[1] == Magic1
        && reply[2] == Version && reply[3] == ports.size();
    for (std::size_t i = 0; valid && i < ports.size(); ++i) {
        const std::uint8_t* entry = reply + HeaderSize + EntrySize * i;
        valid = (entry[0] << 8 | entry[1]) == ports[i];
        results[i].outcome = outcomeOf(entry[2]);
        if (valid && results[i].outcome == PortBinder::Outcome::Bound) {
            valid = next < fds.size() && isListeningStream(fds[next]);
            results[i].fd = valid ? fds[next++] : -1;
        }
    }
    if (valid && next == fds.size())
        return results;
    for (const int fd : fds)
        ::close(fd);
    return {};
}
} // namespace

HelperPortBinder::HelperPortBinder(QString helperPath, int timeoutMs)
    : m_helperPath(std::move(helperPath))
    , m_timeoutMs(timeoutMs)
{
}

std::vector<PortBinder::Result> HelperPortBinder::bindPorts(const std::vector<int>& ports)
{
    std::vector<Result> results;
    for (std::size_t start = 0; start < ports.size(); start += MaxPorts) {
        const std::vector<int> run(ports.begin() + std::ptrdiff_t(start),
            ports.begin() + std::ptrdiff_t(std::min(ports.size(), start + MaxPorts)));
        std::vector<Result> answered = runHelper(run);
        answered.resize(run.size());
        results.insert(results.end(), answered.begin(), answered.end());
    }
    return results;
}

std::vector<PortBinder::Result> HelperPortBinder::runHelper(const std::vector<int>& ports)
{
    std::array<std::uint8_t, HeaderSize + 2 * MaxPorts> request { Magic0, Magic1, Version,
        std::uint8_t(ports.size()) };
    for (std::size_t i = 0; i < ports.size(); ++i) {
        if (ports[i] < 1 || ports[i] > 1023)
            return {}; // the helper would refuse the whole run
        request[HeaderSize + 2 * i] = std::uint8_t(ports[i] >> 8);
        request[HeaderSize + 2 * i + 1] = std::uint8_t(ports[i] & 0xff);
    }

    HelperReply reply = callHelper(m_helperPath, request.data(), HeaderSize + 2 * ports.size(),
        HeaderSize + EntrySize * MaxPorts, MaxPorts, m_timeoutMs);
    if (!reply.answered) {
        for (const int fd : reply.fds)
            ::close(fd);
        return {};
    }
    return decodeReply(ports, reply.bytes.data(), reply.bytes.size(), std::move(reply.fds));
}
