#include "PacketWatch.h"

#include "HelperCall.h"
#include "WatchRecords.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
// The helper's wire format, which it documents at its top.
constexpr std::uint8_t Request[] = { 'S', 'W', 2 };
constexpr std::size_t ReplySize = 4;
enum HelperStatus : std::uint8_t { Armed = 0, NotPermitted = 1 };

// Batches read per wake-up (up to some thousand records in a flood) before the event loop gets
// its turn again; the notifier fires again while more are waiting.
constexpr int BatchesPerWakeUp = 8;
// How long the helper may take to end once its socket pair is closed: it ends at once.
constexpr int EndTimeoutMs = 1000;

// A connection to the watch service, which starts one helper for it (as a systemd socket unit
// does); or minus the reason there is none. The connect waits at most timeoutMs for room in the
// service's queue.
int connectToService(const QByteArray& path, int timeoutMs)
{
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (path.size() >= qsizetype(sizeof address.sun_path))
        return -ENAMETOOLONG;
    std::memcpy(address.sun_path, path.constData(), std::size_t(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -errno;
    const timeval limit { timeoutMs / 1000, timeoutMs % 1000 * 1000 };
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        ::close(fd);
        return -error;
    }
    return fd;
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

void PacketWatch::useService(QString socketPath)
{
    m_servicePath = std::move(socketPath);
}

PacketWatch::~PacketWatch()
{
    stop();
}

PacketWatch::State PacketWatch::start()
{
    stop();
    if (!m_servicePath.isEmpty()) {
        const int fd = connectToService(QFile::encodeName(m_servicePath), m_timeoutMs);
        if (fd < 0) {
            // Not set up, or not ours to reach (the group): an administrator's business either way.
            const int error = -fd;
            m_state = error == ENOENT || error == EACCES || error == EPERM ? State::NeedsPrivilege
                                                                           : State::Failed;
            return m_state;
        }
        m_channel = fd;
        return handshake();
    }
    int pair[2];
    if (m_helperPath.isEmpty()) {
        m_state = State::NeedsPrivilege;
        return m_state;
    }
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
        m_state = State::Failed;
        return m_state;
    }
    const pid_t pid = spawnHelper(QFile::encodeName(m_helperPath), pair[1]);
    ::close(pair[1]);
    if (pid <= 0) {
        ::close(pair[0]);
        // Not installed, or not ours to run: all the same to the user, who needs an
        // administrator for either.
        const int error = pid < 0 ? -pid : ECHILD;
        m_state
            = error == ENOENT || error == EACCES || error == EPERM ? State::NeedsPrivilege : State::Failed;
        return m_state;
    }
    m_channel = pair[0];
    m_helper = pid;
    return handshake();
}

PacketWatch::State PacketWatch::handshake()
{
    const QDeadlineTimer deadline(m_timeoutMs);
    std::uint8_t reply[ReplySize + 1] = {};
    ssize_t got = -1;
    if (::send(m_channel, Request, sizeof Request, MSG_NOSIGNAL) == ssize_t(sizeof Request)) {
        pollfd ready { m_channel, POLLIN, 0 };
        if (::poll(&ready, 1, int(deadline.remainingTime())) == 1)
            got = ::recv(m_channel, reply, sizeof reply, MSG_DONTWAIT);
    }
    const bool wellFormed = got == ssize_t(ReplySize) && reply[0] == Request[0] && reply[1] == Request[1]
        && reply[2] == Request[2];
    if (wellFormed && reply[3] == Armed) {
        m_buffer = std::make_unique<std::uint8_t[]>(WatchRecords::MaxBatch + 1);
        m_notifier = std::make_unique<QSocketNotifier>(m_channel, QSocketNotifier::Read);
        connect(m_notifier.get(), &QSocketNotifier::activated, this, &PacketWatch::readBatches);
        m_state = State::Armed;
        return m_state;
    }
    endHelper();
    // The kernel would not let it make the socket: the user needs an administrator for that too.
    m_state = wellFormed && reply[3] == NotPermitted ? State::NeedsPrivilege : State::Failed;
    return m_state;
}

void PacketWatch::stop()
{
    endHelper();
    m_state = State::Off;
}

void PacketWatch::endHelper()
{
    m_notifier.reset();
    if (m_channel >= 0)
        ::close(std::exchange(m_channel, -1));
    if (m_helper > 0)
        reapHelper(std::exchange(m_helper, -1), EndTimeoutMs);
}

void PacketWatch::readBatches()
{
    QList<TcpProbe> probes;
    for (int i = 0; i < BatchesPerWakeUp; ++i) {
        const ssize_t size = ::recv(m_channel, m_buffer.get(), WatchRecords::MaxBatch + 1, MSG_DONTWAIT);
        if (size < 0 && (errno == EAGAIN || errno == EINTR))
            break;
        if (size <= 0) {
            // The helper ended: nothing more will come.
            endHelper();
            m_state = State::Failed;
            break;
        }
        const auto batch = WatchRecords::readBatch(m_buffer.get(), std::size_t(size));
        if (!batch)
            continue;
        m_dropped += std::uint64_t(batch->kernelDropped) + batch->helperDropped;
        if (probes.isEmpty() && batch->count > 0)
            probes.reserve(qsizetype(batch->count));
        for (std::size_t k = 0; k < batch->count; ++k) {
            const auto r = WatchRecords::readRecord(m_buffer.get(), k);
            if (r) {
                probes.append({ addressOf(r->family, r->source), r->sourcePort,
                    addressOf(r->family, r->destination), r->destinationPort, r->flags, r->sequence,
                    r->fragment });
            }
        }
    }
    if (!probes.isEmpty())
        emit probesSeen(probes);
}
