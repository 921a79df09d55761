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
// Version 1 asks for TCP listeners as every helper understands; version 2 adds a kind byte.
constexpr std::uint8_t TcpVersion = 1;
constexpr std::uint8_t KindVersion = 2;
constexpr std::uint8_t UdpKind = 1;
constexpr std::size_t HeaderSize = 4; // of a reply and of a version 1 request
constexpr std::size_t EntrySize = 3;
constexpr std::size_t MaxPorts = HelperPortBinder::MaxPortsPerRun;

// A listening TCP socket, or a UDP one, as asked; made non-blocking whatever the helper did.
bool isSocketOf(int fd, PortBinder::Protocol protocol)
{
    const bool tcp = protocol == PortBinder::Protocol::Tcp;
    int listening = 0;
    int type = 0;
    socklen_t length = sizeof listening;
    if (::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &length) != 0 || listening != int(tcp))
        return false;
    length = sizeof type;
    if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) != 0
        || type != (tcp ? SOCK_STREAM : SOCK_DGRAM))
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
std::vector<PortBinder::Result> decodeReply(const std::vector<int>& ports, PortBinder::Protocol protocol,
    std::uint8_t version, const std::uint8_t* reply, std::size_t size, std::vector<int> fds)
{
    std::vector<PortBinder::Result> results(ports.size());
    std::size_t next = 0;
    bool valid = size == HeaderSize + EntrySize * ports.size() && reply[0] == Magic0 && reply[1] == Magic1
        && reply[2] == version && reply[3] == ports.size();
    for (std::size_t i = 0; valid && i < ports.size(); ++i) {
        const std::uint8_t* entry = reply + HeaderSize + EntrySize * i;
        valid = (entry[0] << 8 | entry[1]) == ports[i];
        results[i].outcome = outcomeOf(entry[2]);
        if (valid && results[i].outcome == PortBinder::Outcome::Bound) {
            valid = next < fds.size() && isSocketOf(fds[next], protocol);
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

std::vector<PortBinder::Result> HelperPortBinder::bindPorts(const std::vector<int>& ports, Protocol protocol)
{
    std::vector<Result> results;
    for (std::size_t start = 0; start < ports.size(); start += MaxPorts) {
        const std::vector<int> run(ports.begin() + std::ptrdiff_t(start),
            ports.begin() + std::ptrdiff_t(std::min(ports.size(), start + MaxPorts)));
        std::vector<Result> answered = runHelper(run, protocol);
        answered.resize(run.size());
        results.insert(results.end(), answered.begin(), answered.end());
    }
    return results;
}

std::vector<PortBinder::Result> HelperPortBinder::runHelper(const std::vector<int>& ports, Protocol protocol)
{
    // TCP goes in version 1, so a helper older than UDP still serves it.
    const bool udp = protocol == Protocol::Udp;
    const std::uint8_t version = udp ? KindVersion : TcpVersion;
    const std::size_t header = udp ? HeaderSize + 1 : HeaderSize;
    std::array<std::uint8_t, HeaderSize + 1 + 2 * MaxPorts> request { Magic0, Magic1, version,
        std::uint8_t(ports.size()), UdpKind };
    for (std::size_t i = 0; i < ports.size(); ++i) {
        if (ports[i] < 1 || ports[i] > 1023)
            return {}; // the helper would refuse the whole run
        request[header + 2 * i] = std::uint8_t(ports[i] >> 8);
        request[header + 2 * i + 1] = std::uint8_t(ports[i] & 0xff);
    }

    HelperReply reply = callHelper(m_helperPath, request.data(), header + 2 * ports.size(),
        HeaderSize + EntrySize * MaxPorts, MaxPorts, m_timeoutMs);
    if (!reply.answered) {
        for (const int fd : reply.fds)
            ::close(fd);
        return {};
    }
    return decodeReply(
        ports, protocol, version, reply.bytes.data(), reply.bytes.size(), std::move(reply.fds));
}
