#include "PacketWatch.h"

#include "HelperCall.h"
#include "TcpHeaderParser.h"

#include <QSocketNotifier>

#include <cerrno>

#include <fcntl.h>
#include <linux/if_packet.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// The helper's wire format, which it documents at its top.
constexpr std::uint8_t Request[] = { 'S', 'W', 1 };
constexpr std::size_t ReplySize = 4;
enum HelperStatus : std::uint8_t { Armed = 0, NotPermitted = 1 };

// Per batch: room for a header of 60 (IPv4 with options) + 20 bytes, and some spare so a longer
// packet shows up as one, not as a cut one that parses.
constexpr unsigned BatchSize = 64;
constexpr std::size_t PacketRoom = 128;
// Batches read per wake-up before the event loop gets its turn again; the notifier fires again
// while more are queued.
constexpr int BatchesPerWakeUp = 16;
// Room for what a flood brings in between two wake-ups; the kernel caps it at its maximum.
constexpr int ReceiveBuffer = 4 << 20;

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

std::uint64_t hashOf(const TcpHeaderParser::Segment& s)
{
    std::uint64_t hash = 1469598103934665603ULL;
    const auto mix = [&hash](std::uint64_t value, int bytes) {
        for (int i = 0; i < bytes; ++i, value >>= 8)
            hash = (hash ^ (value & 0xff)) * 1099511628211ULL;
    };
    for (std::size_t i = 0; i < s.source.size(); ++i)
        mix(std::uint64_t(s.source[i]) << 8 | s.destination[i], 2);
    mix(s.sourcePort, 2);
    mix(s.destinationPort, 2);
    mix(s.sequence, 4);
    mix(s.flags, 1);
    return hash | 1; // 0 marks an empty slot
}

QHostAddress addressOf(int family, const std::array<std::uint8_t, 16>& bytes)
{
    if (family == 4)
        return QHostAddress(quint32(bytes[0]) << 24 | quint32(bytes[1]) << 16 | quint32(bytes[2]) << 8 | bytes[3]);
    return QHostAddress(bytes.data());
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
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &ReceiveBuffer, sizeof ReceiveBuffer);
    m_fd = fd;
    m_notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &PacketWatch::readBatches);
    m_state = State::Armed;
    return m_state;
}

void PacketWatch::stop()
{
    m_notifier.reset();
    if (m_fd >= 0)
        ::close(std::exchange(m_fd, -1));
    m_state = State::Off;
}

void PacketWatch::readBatches()
{
    std::array<std::array<std::uint8_t, PacketRoom>, BatchSize> packets;
    std::array<iovec, BatchSize> parts;
    std::array<mmsghdr, BatchSize> messages {};
    for (unsigned i = 0; i < BatchSize; ++i) {
        parts[i] = { packets[i].data(), packets[i].size() };
        messages[i].msg_hdr.msg_iov = &parts[i];
        messages[i].msg_hdr.msg_iovlen = 1;
    }
    QList<TcpProbe> probes;
    for (int round = 0; round < BatchesPerWakeUp; ++round) {
        const int got = ::recvmmsg(m_fd, messages.data(), BatchSize, MSG_DONTWAIT, nullptr);
        if (got <= 0)
            break;
        for (int i = 0; i < got; ++i) {
            if ((messages[i].msg_hdr.msg_flags & MSG_TRUNC) != 0)
                continue;
            const auto segment = TcpHeaderParser::parse(packets[i].data(), messages[i].msg_len);
            if (!segment)
                continue;
            const std::uint64_t hash = hashOf(*segment);
            std::uint64_t& slot = m_recent[hash % m_recent.size()];
            if (slot == hash)
                continue;
            slot = hash;
            probes.append({ addressOf(segment->family, segment->source), segment->sourcePort,
                addressOf(segment->family, segment->destination), segment->destinationPort, segment->flags });
        }
        if (got < int(BatchSize))
            break;
    }
    tpacket_stats counts {};
    socklen_t length = sizeof counts;
    if (::getsockopt(m_fd, SOL_PACKET, PACKET_STATISTICS, &counts, &length) == 0)
        m_dropped += counts.tp_drops;
    if (!probes.isEmpty())
        emit probesSeen(probes);
}
