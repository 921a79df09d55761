#include "IntruderBlocker.h"

#include "Event.h"
#include "EventSink.h"
#include "IntruderRecord.h"
#include "StatusReporter.h"

#include <limits>
#include <utility>

namespace {
using Clock = std::chrono::steady_clock;
// How long the machine's own addresses and gateways are taken as read: a flood of sources must
// not read the interfaces for each one.
constexpr std::chrono::seconds ProtectedFor { 10 };
// Automatic refusals named by address at most this many times; then the names start again.
constexpr qsizetype MaxRefusalsSaid = 256;

QString forHowLong(int seconds)
{
    if (seconds == 60)
        return QStringLiteral("1 minute");
    return seconds % 60 == 0 ? QStringLiteral("%1 minutes").arg(seconds / 60) : QStringLiteral("%1 seconds").arg(seconds);
}
} // namespace

IntruderBlocker::IntruderBlocker(FirewallBlocker& firewall, StatusReporter& status, EventSink& events, QObject* parent)
    : QObject(parent)
    , m_firewall(firewall)
    , m_status(status)
    , m_events(events)
{
    connect(&m_firewall, &FirewallBlocker::blocked, this, &IntruderBlocker::answered);
    connect(&m_firewall, &FirewallBlocker::unblocked, this, &IntruderBlocker::unblockAnswered);
    connect(&m_firewall, &FirewallBlocker::listed, this, &IntruderBlocker::listed);
    // Coarse on purpose: the kernel drops the entry on time; this only tidies the list.
    m_expiry.setInterval(1000);
    connect(&m_expiry, &QTimer::timeout, this, &IntruderBlocker::expire);
    // Once per pass of the event loop: what a pass's intrusions asked for goes in one call.
    m_flush.setSingleShot(true);
    m_flush.setInterval(0);
    connect(&m_flush, &QTimer::timeout, this, &IntruderBlocker::flush);
}

void IntruderBlocker::configure(const Settings::Alarm& settings)
{
    const bool switchedOn = settings.blockIntruders && !m_automatic;
    m_automatic = settings.blockIntruders;
    m_minutes = settings.blockMinutes;
    m_allow = settings.allow;
    // Turned on: a fresh try at the helper, and whatever the firewall still blocks from before.
    if (switchedOn) {
        m_unavailable = false;
        m_asking = true;
        refresh();
    }
    if (!m_automatic && std::exchange(m_asking, false))
        emit availabilityChanged();
}

IntruderBlocker::Availability IntruderBlocker::availability() const
{
    if (!m_automatic)
        return Availability::Off;
    if (m_unavailable)
        return Availability::NeedsPrivileges;
    return m_asking ? Availability::Asking : Availability::Available;
}

void IntruderBlocker::intrusion(const Intrusion& intrusion)
{
    const IpAddress& address = intrusion.intruder.address;
    if (!m_automatic || m_unavailable || intrusion.intruder.spoofable)
        return;
    if (m_pending.contains(address) || m_failed.contains(address) || isBlocked(address))
        return;
    const QString refused = BlockRules::refusal(address, false, true, m_allow, protectedNow());
    if (!refused.isEmpty()) {
        if (m_refusedSaid.size() >= MaxRefusalsSaid)
            m_refusedSaid.clear();
        if (!m_refusedSaid.contains(address)) {
            m_refusedSaid.insert(address);
            m_status.addStatusLine(QStringLiteral("Not blocking %1: %2").arg(address.toString(), refused));
        }
        return;
    }
    request(address, m_minutes * 60, true);
}

bool IntruderBlocker::block(const IpAddress& address, int seconds)
{
    const QString refused = BlockRules::refusal(address, false, false, m_allow, protectedNow());
    if (!refused.isEmpty()) {
        m_status.addStatusLine(QStringLiteral("Not blocking %1: %2").arg(address.toString(), refused));
        return false;
    }
    return request(address, seconds, false);
}

bool IntruderBlocker::request(const IpAddress& address, int seconds, bool automatic)
{
    if (m_pending.contains(address))
        return true;
    // A burst larger than the firewall holds is still blocked whole, the oldest making way again,
    // whatever the timing of the helper's calls; beyond twice that, the rest are counted.
    if (m_queue.size() >= MaxWaiting) {
        ++m_notBlocked;
        return false;
    }
    m_queue.append({ address, seconds });
    m_pending.insert(address, automatic);
    m_flush.start();
    return true;
}

// Sends what waits, up to a call's worth, once the previous call is answered: one helper runs
// at a time anyway, and meanwhile the next call fills.
void IntruderBlocker::flush()
{
    if (m_inFlight > 0)
        return;
    if (m_queue.isEmpty())
        return sayNotBlocked();
    const qsizetype count = std::min<qsizetype>(m_queue.size(), FirewallBlocker::MaxPerCall);
    const QList<FirewallBlocker::Block> call = m_queue.first(count);
    m_queue.remove(0, count);
    // The firewall holds at most MaxBlocked: the oldest make room first, in a call ahead of this.
    QList<IpAddress> oldest;
    while (!m_entries.isEmpty() && m_entries.size() + count > MaxBlocked) {
        oldest.append(m_entries.first().address);
        remove(0, "full");
    }
    if (!oldest.isEmpty())
        (void)m_firewall.unblock(oldest);
    if (!m_firewall.block(call)) {
        for (const FirewallBlocker::Block& b : call)
            m_pending.remove(b.address);
        m_notBlocked += int(count);
        return flush();
    }
    m_inFlight += int(count);
}

void IntruderBlocker::sayNotBlocked()
{
    if (m_notBlocked == 0)
        return;
    m_status.addStatusLine(QStringLiteral("Could not block %1 more intruders: too many at once").arg(m_notBlocked));
    m_notBlocked = 0;
}

bool IntruderBlocker::unblock(const IpAddress& address)
{
    return m_firewall.unblock({ address });
}

void IntruderBlocker::refresh()
{
    (void)m_firewall.list();
}

const IntruderBlocker::Entry* IntruderBlocker::blockOf(const IpAddress& address) const
{
    const auto found = std::find_if(
        m_entries.cbegin(), m_entries.cend(), [&address](const Entry& e) { return e.address == address; });
    return found == m_entries.cend() ? nullptr : &*found;
}

bool IntruderBlocker::isBlocked(const IpAddress& address) const
{
    return blockOf(address) != nullptr;
}

bool IntruderBlocker::canBlock(const IpAddress& address)
{
    return m_firewall.isInstalled() && !m_unavailable
        && BlockRules::refusal(address, false, false, m_allow, protectedNow()).isEmpty();
}

bool IntruderBlocker::countAttempt(const IpAddress& address)
{
    for (Entry& entry : m_entries) {
        if (entry.address == address) {
            ++entry.attempts;
            return true;
        }
    }
    return false;
}

int IntruderBlocker::secondsLeft(const Entry& entry)
{
    const auto left = std::chrono::ceil<std::chrono::seconds>(entry.until - Clock::now()).count();
    return int(std::max<qint64>(left, 0));
}

void IntruderBlocker::answered(const IpAddress& address, int seconds, FirewallBlocker::Outcome outcome)
{
    const QString k = address.toString();
    const bool automatic = m_pending.take(address);
    m_inFlight = std::max(m_inFlight - 1, 0);
    if (m_inFlight == 0)
        m_flush.start();
    using Outcome = FirewallBlocker::Outcome;
    if (outcome == Outcome::NeedsPrivilege)
        return needsPrivilege();
    if (outcome == Outcome::Full) {
        ++m_notBlocked;
        return;
    }
    if (outcome != Outcome::Done) {
        // Once per address: a source that keeps connecting must not start the helper each time.
        if (m_failed.size() >= MaxRefusalsSaid)
            m_failed.clear();
        if (automatic)
            m_failed.insert(address);
        // The helper knows the machine's addresses and routes even where the program could not
        // read them.
        m_status.addStatusLine(outcome == Outcome::OwnAddress ? QStringLiteral("Not blocking %1: this machine").arg(k)
                : outcome == Outcome::Gateway                 ? QStringLiteral("Not blocking %1: the default gateway").arg(k)
                                                              : QStringLiteral("Could not block %1").arg(k));
        return;
    }
    m_failed.remove(address);
    // Blocked again: a new time, and it counts as the newest; the attempts stopped so far stay.
    quint64 attempts = 0;
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        if (m_entries[i].address == address) {
            attempts = m_entries.takeAt(i).attempts;
            break;
        }
    }
    // Only when the firewall held addresses this list did not know of (another caller of the
    // helper): the flush made room for everything it sent.
    if (m_entries.size() >= MaxBlocked) {
        (void)m_firewall.unblock({ m_entries.first().address });
        remove(0, "full");
    }
    m_entries.append({ address, Clock::now() + std::chrono::seconds(seconds), automatic, attempts });
    m_status.addStatusLine(QStringLiteral("Blocked %1 for %2").arg(k, forHowLong(seconds)));
    m_events.record(Event::blocked(k, seconds, automatic));
    if (!m_expiry.isActive())
        m_expiry.start();
    emit changed();
}

void IntruderBlocker::unblockAnswered(const IpAddress& address, FirewallBlocker::Outcome outcome)
{
    if (outcome == FirewallBlocker::Outcome::NeedsPrivilege)
        return needsPrivilege();
    if (outcome == FirewallBlocker::Outcome::Failed) {
        m_status.addStatusLine(QStringLiteral("Could not unblock %1").arg(address.toString()));
        return;
    }
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        if (m_entries[i].address == address)
            return remove(i, "user");
    }
}

void IntruderBlocker::listed(FirewallBlocker::Outcome outcome, const QList<FirewallBlocker::Entry>& entries)
{
    if (std::exchange(m_asking, false) && outcome != FirewallBlocker::Outcome::NeedsPrivilege)
        emit availabilityChanged();
    if (outcome == FirewallBlocker::Outcome::NeedsPrivilege)
        return needsPrivilege();
    if (outcome != FirewallBlocker::Outcome::Done)
        return;
    // The firewall's word wins: its times, and nothing it no longer has.
    QList<Entry> now;
    for (const FirewallBlocker::Entry& listedEntry : entries) {
        if (now.size() >= MaxBlocked)
            break;
        const Entry* known = blockOf(listedEntry.address);
        now.append({ listedEntry.address, Clock::now() + std::chrono::seconds(listedEntry.secondsLeft),
            known && known->automatic, known ? known->attempts : 0 });
    }
    std::stable_sort(now.begin(), now.end(), [](const Entry& a, const Entry& b) { return a.until < b.until; });
    m_entries = now;
    if (!m_entries.isEmpty() && !m_expiry.isActive())
        m_expiry.start();
    emit changed();
}

void IntruderBlocker::expire()
{
    const auto now = Clock::now();
    for (qsizetype i = 0; i < m_entries.size();) {
        if (m_entries[i].until <= now)
            remove(i, "expired");
        else
            ++i;
    }
    if (m_entries.isEmpty())
        m_expiry.stop();
}

void IntruderBlocker::remove(qsizetype index, const char* cause)
{
    const Entry entry = m_entries.takeAt(index);
    const QString address = entry.address.toString();
    m_status.addStatusLine(QStringLiteral("Unblocked %1").arg(address));
    Event event = Event::unblocked(address, cause);
    event.count = int(std::min<quint64>(entry.attempts, std::numeric_limits<int>::max()));
    m_events.record(event);
    emit changed();
}

void IntruderBlocker::needsPrivilege()
{
    // Said once; automatic blocking stops asking until it is turned on again. Monitoring goes on.
    if (!m_unavailable)
        m_status.addStatusLine(QStringLiteral("Blocking intruders needs administrator rights"));
    const bool asked = std::exchange(m_asking, false);
    const bool news = !m_unavailable || asked;
    m_unavailable = true;
    m_pending.clear();
    m_queue.clear();
    m_notBlocked = 0;
    if (news && m_automatic)
        emit availabilityChanged();
}

const BlockRules::Protected& IntruderBlocker::protectedNow()
{
    const auto now = Clock::now();
    if (m_protectedRead == Clock::time_point {} || now - m_protectedRead > ProtectedFor) {
        m_protected = BlockRules::current();
        m_protectedRead = now;
    }
    return m_protected;
}
