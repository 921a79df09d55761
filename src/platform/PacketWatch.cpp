#include "PacketWatch.h"

#include "HelperCall.h"
#include "TcpHeaderParser.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <linux/if_packet.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// The helper's wire format, which it documents at its top.
constexpr std::uint8_t Request[] = { 'S', 'W', 1 };
constexpr std::size_t ReplySize = 4;
enum HelperStatus : std::uint8_t { Armed = 0, NotPermitted = 1 };

// The helper's filter cuts every packet to a header of at most 60 (IPv4 with options) + 20 bytes:
// anything longer is no packet of its filter.
constexpr std::size_t PacketRoom = 128;
// Blocks read per wake-up (some thousand packets in a flood) before the event loop gets its turn
// again; the notifier fires again while more are waiting.
constexpr int BlocksPerWakeUp = 4;

bool isPacketSocket(int fd)
{
    int domain = 0;
    int type = 0;
    socklen_t length = sizeof domain;
    if (::getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &length) != 0 || domain != AF_PACKET)
        return false;
    length = sizeof type;
    return ::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) == 0 && type == SOCK_DGRAM;
}

// Only tells a segment seen twice from a different one: a multiply-and-fold per eight bytes.
std::uint64_t hashOf(const TcpHeaderParser::Segment& s)
{
    std::uint64_t words[4];
    std::memcpy(words, s.source.data(), 16);
    std::memcpy(words + 2, s.destination.data(), 16);
    std::uint64_t hash = std::uint64_t(s.sourcePort) << 48 | std::uint64_t(s.destinationPort) << 32 | s.sequence;
    hash = (hash ^ s.flags) * 0x9e3779b97f4a7c15ULL;
    for (const std::uint64_t word : words)
        hash = (hash ^ (hash >> 31) ^ word) * 0xbf58476d1ce4e5b9ULL;
    return (hash ^ (hash >> 29)) | 1; // 0 marks an empty slot
}

IpAddress addressOf(int family, const std::array<std::uint8_t, 16>& bytes)
{
    return family == 4 ? IpAddress::fromIpv4(bytes.data()) : IpAddress::fromIpv6(bytes.data());
}
} // namespace

PacketWatch::PacketWatch(QObject* parent)
    : QObject(parent)
{
}

PacketWatch::PacketWatch(QString helperPath, QObject* parent, int timeoutMs)
    : QObject(parent)
    , m_helperPath(std::move(helperPath))
    , m_timeoutMs(timeoutMs)
{
}

PacketWatch::~PacketWatch()
{
    stop();
}

PacketWatch::State PacketWatch::start()
{
    stop();
    HelperReply reply = callHelper(m_helperPath, Request, sizeof Request, ReplySize, 1, m_timeoutMs);
    const bool wellFormed = reply.answered && reply.bytes.size() == ReplySize && reply.bytes[0] == Request[0]
        && reply.bytes[1] == Request[1] && reply.bytes[2] == Request[2];
    const bool armed = wellFormed && reply.bytes[3] == Armed && reply.fds.size() == 1;
    if (armed)
        return adopt(reply.fds.front());
    for (const int fd : reply.fds)
        ::close(fd);
    // Not installed, not ours to run, or the kernel would not let it make the socket: all the
    // same to the user, who needs an administrator for any of them.
    const bool refused = reply.startError == ENOENT || reply.startError == EACCES || reply.startError == EPERM
        || (wellFormed && reply.bytes[3] == NotPermitted);
    m_state = refused ? State::NeedsPrivilege : State::Failed;
    return m_state;
}

PacketWatch::State PacketWatch::adopt(int fd)
{
    stop();
    const int flags = ::fcntl(fd, F_GETFL);
    if (!isPacketSocket(fd) || flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
        ::close(fd);
        m_state = State::Failed;
        return m_state;
    }
    if (!m_ring.attach(fd)) {
        ::close(fd);
        m_state = State::Failed;
        return m_state;
    }
    m_fd = fd;
    m_notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &PacketWatch::readBatches);
    m_state = State::Armed;
    return m_state;
}

void PacketWatch::stop()
{
    m_notifier.reset();
    m_ring.detach();
    if (m_fd >= 0)
        ::close(std::exchange(m_fd, -1));
    m_state = State::Off;
}

void PacketWatch::readBatches()
{
    QList<TcpProbe> probes;
    m_ring.read(BlocksPerWakeUp, [this, &probes](const std::uint8_t* data, std::size_t size) {
        if (size > PacketRoom)
            return;
        const auto segment = TcpHeaderParser::parse(data, size);
        if (!segment)
            return;
        const std::uint64_t hash = hashOf(*segment);
        std::uint64_t& slot = m_recent[hash % m_recent.size()];
        if (slot == hash)
            return;
        slot = hash;
        if (probes.isEmpty())
            probes.reserve(256);
        probes.append({ addressOf(segment->family, segment->source), segment->sourcePort,
            addressOf(segment->family, segment->destination), segment->destinationPort, segment->flags,
            segment->sequence });
    });
    tpacket_stats_v3 counts {};
    socklen_t length = sizeof counts;
    if (::getsockopt(m_fd, SOL_PACKET, PACKET_STATISTICS, &counts, &length) == 0)
        m_dropped += counts.tp_drops;
    if (!probes.isEmpty())
        emit probesSeen(probes);
}
