#include "FirewallBlocker.h"

#include "HelperCall.h"

#include <algorithm>
#include <cerrno>

#include <unistd.h>

namespace {
constexpr std::uint8_t Header[] = { 'S', 'F', 2 };
constexpr std::size_t HeaderSize = 4;
enum HelperStatus : std::uint8_t { Done = 0, NotPermitted = 1 };
constexpr std::size_t MaxListed = 512;
constexpr std::size_t EntrySize = 1 + 16 + 4;
constexpr std::size_t ListHeaderSize = HeaderSize + 3;
constexpr std::size_t MaxReply = ListHeaderSize + MaxListed * EntrySize;

// One entry as the helper takes it: family byte, 16 bytes of address (IPv4 in the first 4), the
// seconds.
bool appendEntry(std::vector<std::uint8_t>& out, const IpAddress& address, std::uint32_t seconds)
{
    if (address.isNull())
        return false;
    out.push_back(std::uint8_t(address.family()));
    out.insert(out.end(), address.bytes(), address.bytes() + 16);
    out.insert(out.end(), { std::uint8_t(seconds >> 24), std::uint8_t(seconds >> 16), std::uint8_t(seconds >> 8), std::uint8_t(seconds) });
    return true;
}

std::vector<std::uint8_t> header(char op)
{
    return { Header[0], Header[1], Header[2], std::uint8_t(op) };
}

std::vector<std::uint8_t> entriesRequest(char op, const QList<FirewallBlocker::Block>& blocks)
{
    if (blocks.isEmpty() || blocks.size() > FirewallBlocker::MaxPerCall)
        return {};
    std::vector<std::uint8_t> request = header(op);
    request.push_back(std::uint8_t(blocks.size()));
    for (const FirewallBlocker::Block& b : blocks) {
        const bool add = op == 'a';
        if ((add && (b.seconds < 1 || b.seconds > FirewallBlocker::MaxSeconds))
            || !appendEntry(request, b.address, add ? std::uint32_t(b.seconds) : 0))
            return {};
    }
    return request;
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

std::vector<std::uint8_t> FirewallBlocker::addRequest(const QList<Block>& blocks)
{
    return entriesRequest('a', blocks);
}

std::vector<std::uint8_t> FirewallBlocker::deleteRequest(const QList<IpAddress>& addresses)
{
    QList<Block> blocks;
    for (const IpAddress& address : addresses)
        blocks.append({ address, 0 });
    return entriesRequest('d', blocks);
}

QList<FirewallBlocker::Outcome> FirewallBlocker::outcomesOf(
    int startError, bool answered, const std::vector<std::uint8_t>& reply, int count)
{
    const auto all = [count](Outcome outcome) { return QList<Outcome>(std::max(count, 1), outcome); };
    // Not installed, or not ours to run: the user needs an administrator either way.
    if (startError == ENOENT || startError == EACCES || startError == EPERM)
        return all(Outcome::NeedsPrivilege);
    if (!answered || reply.size() < HeaderSize || reply[0] != Header[0] || reply[1] != Header[1] || reply[2] != Header[2])
        return all(Outcome::Failed);
    if (reply[3] != Done)
        return all(reply[3] == NotPermitted ? Outcome::NeedsPrivilege : Outcome::Failed);
    if (count == 0)
        return all(Outcome::Done);
    if (reply.size() != HeaderSize + 1 + std::size_t(count) || reply[HeaderSize] != count)
        return all(Outcome::Failed);
    QList<Outcome> outcomes;
    for (int i = 0; i < count; ++i) {
        const std::uint8_t result = reply[HeaderSize + 1 + std::size_t(i)];
        outcomes.append(result == 0 ? Outcome::Done
                : result == 1       ? Outcome::OwnAddress
                : result == 2       ? Outcome::Gateway
                : result == 3       ? Outcome::Full
                                    : Outcome::Failed);
    }
    return outcomes;
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
            entry.address = IpAddress::fromIpv4(e + 1);
        else if (e[0] == 6)
            entry.address = IpAddress::fromIpv6(e + 1);
        else
            continue;
        const std::uint8_t* s = e + 17;
        entry.secondsLeft = int(std::min<quint32>(quint32(s[0]) << 24 | quint32(s[1]) << 16 | quint32(s[2]) << 8 | s[3], MaxSeconds));
        entries.append(entry);
    }
    return entries;
}

bool FirewallBlocker::block(const QList<Block>& blocks)
{
    return run(Op::Add, blocks, addRequest(blocks));
}

bool FirewallBlocker::unblock(const QList<IpAddress>& addresses)
{
    QList<Block> blocks;
    for (const IpAddress& address : addresses)
        blocks.append({ address, 0 });
    return run(Op::Delete, blocks, deleteRequest(addresses));
}

bool FirewallBlocker::list()
{
    return run(Op::List, {}, header('l'));
}

bool FirewallBlocker::run(Op op, const QList<Block>& blocks, std::vector<std::uint8_t> request)
{
    if (request.empty() || m_pending >= MaxPending)
        return false;
    ++m_pending;
    m_worker.start([this, op, blocks, request = std::move(request)] {
        const HelperReply reply = callHelper(m_helperPath, request.data(), request.size(), MaxReply, 0, m_timeoutMs);
        for (const int fd : reply.fds)
            ::close(fd);
        const QList<Outcome> outcomes = outcomesOf(reply.startError, reply.answered, reply.bytes, int(blocks.size()));
        const QList<Entry> entries
            = op == Op::List && outcomes.first() == Outcome::Done ? entriesOf(reply.bytes) : QList<Entry> {};
        // Back on the caller's thread; dropped with this object if it is gone by then.
        QMetaObject::invokeMethod(this, [this, op, blocks, outcomes, entries] {
            --m_pending;
            if (op == Op::List)
                emit listed(outcomes.first(), entries);
            for (qsizetype i = 0; i < blocks.size(); ++i) {
                if (op == Op::Add)
                    emit blocked(blocks[i].address, blocks[i].seconds, outcomes[i]);
                else
                    emit unblocked(blocks[i].address, outcomes[i]);
            }
        }, Qt::QueuedConnection);
    });
    return true;
}
