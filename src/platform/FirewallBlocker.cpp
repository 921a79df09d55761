#include "FirewallBlocker.h"

#include "HelperCall.h"

#include <algorithm>
#include <cerrno>

#include <unistd.h>

namespace {
constexpr std::uint8_t Header[] = { 'S', 'F', 1 };
constexpr std::size_t HeaderSize = 4;
enum HelperStatus : std::uint8_t { Done = 0, NotPermitted = 1 };
constexpr std::size_t MaxListed = 512;
constexpr std::size_t EntrySize = 1 + 16 + 4;
constexpr std::size_t ListHeaderSize = HeaderSize + 3;
constexpr std::size_t MaxReply = ListHeaderSize + MaxListed * EntrySize;

// The address as the helper takes it: family byte, then 4 or 16 bytes. An IPv4 peer seen through
// an IPv6 socket goes as IPv4, which is how its packets reach the firewall.
bool appendAddress(std::vector<std::uint8_t>& out, const QHostAddress& address)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    if (isV4) {
        out.insert(out.end(), { 4, std::uint8_t(v4 >> 24), std::uint8_t(v4 >> 16), std::uint8_t(v4 >> 8), std::uint8_t(v4) });
        return true;
    }
    if (address.protocol() != QAbstractSocket::IPv6Protocol)
        return false;
    const Q_IPV6ADDR v6 = address.toIPv6Address();
    out.push_back(6);
    out.insert(out.end(), v6.c, v6.c + 16);
    return true;
}

std::vector<std::uint8_t> header(char op)
{
    return { Header[0], Header[1], Header[2], std::uint8_t(op) };
}
} // namespace

FirewallBlocker::FirewallBlocker(QString helperPath, QObject* parent, int timeoutMs)
    : QObject(parent)
    , m_helperPath(std::move(helperPath))
    , m_timeoutMs(timeoutMs)
{
    m_worker.setMaxThreadCount(1);
}

FirewallBlocker::~FirewallBlocker()
{
    // What has not started yet is dropped; the one running is waited for (at most the time-out).
    m_worker.clear();
    m_worker.waitForDone();
}

std::vector<std::uint8_t> FirewallBlocker::addRequest(const QHostAddress& address, int seconds)
{
    std::vector<std::uint8_t> request = header('a');
    if (seconds < 1 || seconds > MaxSeconds || !appendAddress(request, address))
        return {};
    const auto s = std::uint32_t(seconds);
    request.insert(request.end(), { std::uint8_t(s >> 24), std::uint8_t(s >> 16), std::uint8_t(s >> 8), std::uint8_t(s) });
    return request;
}

std::vector<std::uint8_t> FirewallBlocker::deleteRequest(const QHostAddress& address)
{
    std::vector<std::uint8_t> request = header('d');
    return appendAddress(request, address) ? request : std::vector<std::uint8_t> {};
}

FirewallBlocker::Outcome FirewallBlocker::outcomeOf(int startError, bool answered, const std::vector<std::uint8_t>& reply)
{
    // Not installed, or not ours to run: the user needs an administrator either way.
    if (startError == ENOENT || startError == EACCES || startError == EPERM)
        return Outcome::NeedsPrivilege;
    if (!answered || reply.size() < HeaderSize || reply[0] != Header[0] || reply[1] != Header[1] || reply[2] != Header[2])
        return Outcome::Failed;
    if (reply[3] == Done)
        return Outcome::Done;
    return reply[3] == NotPermitted ? Outcome::NeedsPrivilege : Outcome::Failed;
}

QList<FirewallBlocker::Entry> FirewallBlocker::entriesOf(const std::vector<std::uint8_t>& reply)
{
    QList<Entry> entries;
    if (reply.size() < ListHeaderSize)
        return entries;
    const std::size_t count = std::size_t(reply[4]) << 8 | reply[5];
    if (count > MaxListed || reply.size() != ListHeaderSize + count * EntrySize)
        return entries;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* e = reply.data() + ListHeaderSize + i * EntrySize;
        Entry entry;
        if (e[0] == 4)
            entry.address = QHostAddress(quint32(e[1]) << 24 | quint32(e[2]) << 16 | quint32(e[3]) << 8 | e[4]);
        else if (e[0] == 6)
            entry.address = QHostAddress(e + 1);
        else
            continue;
        const std::uint8_t* s = e + 17;
        entry.secondsLeft = int(std::min<quint32>(quint32(s[0]) << 24 | quint32(s[1]) << 16 | quint32(s[2]) << 8 | s[3], MaxSeconds));
        entries.append(entry);
    }
    return entries;
}

bool FirewallBlocker::block(const QHostAddress& address, int seconds)
{
    return run(Op::Add, address, seconds, addRequest(address, seconds));
}

bool FirewallBlocker::unblock(const QHostAddress& address)
{
    return run(Op::Delete, address, 0, deleteRequest(address));
}

bool FirewallBlocker::list()
{
    return run(Op::List, {}, 0, header('l'));
}

bool FirewallBlocker::run(Op op, const QHostAddress& address, int seconds, std::vector<std::uint8_t> request)
{
    if (request.empty() || m_pending >= MaxPending) {
        ++m_refused;
        return false;
    }
    ++m_pending;
    m_worker.start([this, op, address, seconds, request = std::move(request)] {
        const HelperReply reply = callHelper(m_helperPath, request.data(), request.size(), MaxReply, 0, m_timeoutMs);
        for (const int fd : reply.fds)
            ::close(fd);
        const Outcome outcome = outcomeOf(reply.startError, reply.answered, reply.bytes);
        const QList<Entry> entries = op == Op::List && outcome == Outcome::Done ? entriesOf(reply.bytes) : QList<Entry> {};
        // Back on the caller's thread; dropped with this object if it is gone by then.
        QMetaObject::invokeMethod(this, [this, op, address, seconds, outcome, entries] {
            --m_pending;
            switch (op) {
            case Op::Add:
                emit blocked(address, seconds, outcome);
                break;
            case Op::Delete:
                emit unblocked(address, outcome);
                break;
            case Op::List:
                emit listed(outcome, entries);
                break;
            }
        }, Qt::QueuedConnection);
    });
    return true;
}
