#include "ReverseNames.h"

#include "HistoryKinds.h"

#include <QHostInfo>

#include <algorithm>

namespace {

// The name is whatever the address's owner put in the reverse zone: only a host name's letters,
// digits, hyphens, underscores and dots are shown, never markup or control characters.
bool isHostName(const QString& name)
{
    return !name.isEmpty() && name.size() <= 253 && std::all_of(name.begin(), name.end(), [](QChar c) {
        return c.isLetterOrNumber() || c == u'-' || c == u'.' || c == u'_';
    });
}

} // namespace

ReverseNames::ReverseNames(QObject* parent)
    : ReverseNames(Limits {}, parent)
{
}

ReverseNames::ReverseNames(Limits limits, QObject* parent)
    : QObject(parent)
    , m_limits(limits)
{
}

ReverseNames::~ReverseNames() = default;

ReverseNames::Origin ReverseNames::originOf(unsigned kinds)
{
    return (kinds & HistoryKinds::of(Event::Detection::Connect)) ? Origin::Connected : Origin::SpoofableOnly;
}

void ReverseNames::setEnabled(bool enabled)
{
    m_enabled = enabled;
    if (enabled)
        return;
    // What runs is left to finish, its answer dropped: the resolver's threads cannot be stopped
    // mid-query anyway, and they stay counted against the limit until they end.
    m_waiting.clear();
    m_cache.clear();
    m_recent.clear();
}

ReverseNames::Answer ReverseNames::lookUp(const IpAddress& address, Origin origin, Ask ask)
{
    if (!m_enabled)
        return Answer::Off;
    if (name(address))
        return Answer::Known; // a name kept costs no query, whoever the source is
    if (origin == Origin::SpoofableOnly && ask != Ask::Explicitly)
        return Answer::Refused;
    if (m_running.contains(address))
        return Answer::Pending;
    const auto queued = std::find(m_waiting.begin(), m_waiting.end(), address);
    if (queued != m_waiting.end())
        m_waiting.erase(queued); // asked again: it is served next
    if (m_running.size() < m_limits.running) {
        start(address);
        return Answer::Pending;
    }
    if (int(m_waiting.size()) >= m_limits.waiting) {
        m_waiting.pop_front();
        ++m_dropped;
    }
    if (m_limits.waiting > 0)
        m_waiting.push_back(address);
    else
        ++m_dropped;
    return Answer::Pending;
}

std::optional<QString> ReverseNames::name(const IpAddress& address)
{
    const auto found = m_cache.constFind(address);
    if (found == m_cache.constEnd())
        return std::nullopt;
    const auto entry = found.value();
    if (entry->expires <= std::chrono::steady_clock::now()) {
        m_recent.erase(entry);
        m_cache.erase(found);
        return std::nullopt;
    }
    m_recent.splice(m_recent.begin(), m_recent, entry);
    return entry->name;
}

void ReverseNames::start(const IpAddress& address)
{
    m_running.insert(address);
    const QString text = address.toString();
    QHostInfo::lookupHost(text, this, [this, address, text](const QHostInfo& info) {
        m_running.remove(address);
        if (m_enabled) {
            // Without a name the resolver answers with the address itself.
            const QString found = info.error() == QHostInfo::NoError ? info.hostName() : QString();
            const QString name = found != text && isHostName(found) ? found : QString();
            keep(address, name);
            emit nameFound(address, name);
        }
        startWaiting();
    });
}

void ReverseNames::keep(const IpAddress& address, const QString& name)
{
    if (m_limits.kept <= 0)
        return;
    if (const auto old = m_cache.constFind(address); old != m_cache.constEnd()) {
        m_recent.erase(old.value());
        m_cache.erase(old);
    }
    while (int(m_cache.size()) >= m_limits.kept) {
        m_cache.remove(m_recent.back().address);
        m_recent.pop_back();
    }
    m_recent.push_front({ address, name, std::chrono::steady_clock::now() + m_limits.timeToLive });
    m_cache.insert(address, m_recent.begin());
}

void ReverseNames::startWaiting()
{
    while (!m_waiting.empty() && m_running.size() < m_limits.running) {
        const IpAddress next = m_waiting.back(); // the newest request is what the user looks at
        m_waiting.pop_back();
        start(next);
    }
}
