#include "HistoryFolding.h"

#include "HistoryKinds.h"
#include "SourceLocation.h"

#include <QSqlDatabase>
#include <QVariant>

#include <algorithm>
#include <vector>

struct HistoryFolding::Open
{
    QByteArray key;
    QByteArray address;
    qint64 row = 0;
    qint64 first = 0;
    qint64 last = 0;
    int utcOffset = 0;
    bool inserted = false; // its row exists: later changes update it
    qint64 count = 0;
    qint64 sources = 0;
    unsigned kinds = 0;
    bool spoofable = true;
    int state = 0;
    QString ports;
    int listed = 0;
    QSet<int> portsSeen; // port | udp << 16, up to a bound
    bool dirty = false;
};

namespace {
constexpr qsizetype MaxPortsSeen = 1024;
constexpr int ScanIndex = HistoryKinds::Detections; // PortScan's bit
constexpr qint64 HourMs = 3600 * 1000;

enum KeyKind : char { Pipeline = 'P', Alarm = 'A', Allowed = 'L', Flood = 'F' };

QByteArray keyOf(KeyKind kind, const QByteArray& body)
{
    return char(kind) + body;
}

QByteArray keyOf(quint64 incident)
{
    return char(Pipeline) + QByteArray(reinterpret_cast<const char*>(&incident), sizeof incident);
}

// The sixteen bytes the tables hold: IPv4 mapped into IPv6.
QByteArray blobOf(const IpAddress& address)
{
    if (address.isIpv6())
        return QByteArray(reinterpret_cast<const char*>(address.bytes()), 16);
    QByteArray blob(16, '\0');
    blob[10] = char(0xff);
    blob[11] = char(0xff);
    std::copy_n(address.bytes(), 4, blob.begin() + 12);
    return blob;
}

quint64 hourKey(qint64 hour, int kind, int port)
{
    return quint64(hour) << 24 | quint64(kind) << 16 | quint64(port & 0xffff);
}

QSqlQuery prepared(QSqlDatabase& database, const char* statement)
{
    QSqlQuery query(database);
    query.prepare(QString::fromLatin1(statement));
    return query;
}
} // namespace

HistoryFolding::HistoryFolding(QSqlDatabase& database, std::unique_ptr<SourceLocator> locator)
    : m_locator(std::move(locator))
    , m_lastId(prepared(database, "SELECT max(id) FROM incidents"))
    , m_insertIncident(prepared(database,
          "INSERT INTO incidents(address, last, ports, kinds, count, sources, spoofable, state, id, first,"
          " utc_offset) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"))
    , m_updateIncident(prepared(database,
          "UPDATE incidents SET address = ?, last = ?, ports = ?, kinds = ?, count = ?, sources = ?,"
          " spoofable = ?, state = ? WHERE id = ?"))
    , m_insertPort(prepared(database, "INSERT OR IGNORE INTO incident_ports(port, incident) VALUES(?, ?)"))
    , m_blockLatest(prepared(database,
          "UPDATE incidents SET state = 1 WHERE id = (SELECT max(id) FROM incidents WHERE address = ?"
          " AND state <> 2)"))
    , m_sourceKnown(prepared(database, "SELECT 1 FROM sources WHERE address = ?"))
    , m_upsertSource(prepared(database,
          "INSERT INTO sources(address, text, first, last, count, incidents, kinds, country, asn)"
          " VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT(address) DO UPDATE SET"
          " first = min(first, excluded.first), last = max(last, excluded.last),"
          " count = count + excluded.count, incidents = incidents + excluded.incidents,"
          " kinds = kinds | excluded.kinds"))
    , m_insertNetwork(prepared(database, "INSERT OR IGNORE INTO networks(asn, name) VALUES(?, ?)"))
    , m_upsertHour(prepared(database,
          "INSERT INTO hourly(hour, kind, port, count) VALUES(?, ?, ?, ?)"
          " ON CONFLICT(hour, kind, port) DO UPDATE SET count = count + excluded.count"))
{
}

HistoryFolding::~HistoryFolding() = default;

bool HistoryFolding::run(QSqlQuery& query)
{
    if (query.exec())
        return true;
    m_error = query.lastError();
    return false;
}

bool HistoryFolding::apply(const HistoryEntry& entry)
{
    m_error = QSqlError();
    // A statement may fail where no result says so (a stale row written on the way).
    return applyEntry(entry) && m_error.type() == QSqlError::NoError;
}

bool HistoryFolding::applyEntry(const HistoryEntry& entry)
{
    m_latest = std::max(m_latest, entry.time);
    if (entry.kind == Event::Kind::ProgramStarted) {
        // The pipeline numbers incidents from 1 again.
        for (const QByteArray& key : m_open.keys()) {
            if (key.startsWith(char(Pipeline)) && !forget(key))
                return false;
        }
        return true;
    }
    const std::optional<IpAddress> parsed = IpAddress::parse(entry.address);
    if (!parsed)
        return true;
    const QByteArray address = blobOf(*parsed);
    const bool udp = entry.detection == Event::Detection::Udp;

    switch (entry.kind) {
    case Event::Kind::Intrusion: {
        const unsigned kind = HistoryKinds::of(entry.detection);
        const QByteArray key = entry.incident > 0 ? keyOf(entry.incident) : keyOf(Alarm, address);
        Open* open = find(key, entry.time, entry.incident == 0);
        const bool fresh = !open;
        if (fresh && !(open = start(key, address, entry, int(HistoryState::Alarm))))
            return false;
        open->last = std::max(open->last, entry.time);
        ++open->count;
        open->kinds |= kind;
        open->spoofable = open->spoofable && Event::isSpoofable(entry.detection);
        countSource(*parsed, entry.time, entry.kind, kind, fresh);
        countHour(entry.time, int(entry.detection), entry.port, 1);
        return addPort(*open, entry.port, udp);
    }
    case Event::Kind::Allowed: {
        const QByteArray key = keyOf(Allowed, address);
        Open* open = find(key, entry.time, true);
        if (!open && !(open = start(key, address, entry, int(HistoryState::Allowed))))
            return false;
        open->last = std::max(open->last, entry.time);
        ++open->count;
        open->kinds |= HistoryKinds::of(entry.detection);
        open->spoofable = open->spoofable && Event::isSpoofable(entry.detection);
        return addPort(*open, entry.port, udp);
    }
    case Event::Kind::Flood: {
        const int index = entry.scanFolded ? ScanIndex : int(entry.detection);
        const QByteArray key = keyOf(Flood, QByteArray(1, char(index)));
        Open* open = find(key, entry.time, true);
        if (!open) {
            if (!(open = start(key, address, entry, int(HistoryState::Alarm))))
                return false;
            open->sources = 0;
        }
        open->address = address; // the latest probe's
        open->last = std::max(open->last, entry.time);
        open->count += entry.probes;
        open->sources += entry.sources;
        open->kinds |= HistoryKinds::Flood | 1u << index;
        countHour(entry.time, index, entry.port, entry.probes);
        return addPort(*open, entry.port, udp && !entry.scanFolded);
    }
    case Event::Kind::PortScan: {
        const QByteArray key = entry.incident > 0 ? keyOf(entry.incident) : keyOf(Alarm, address);
        if (const auto found = m_open.find(key); found != m_open.end()) {
            found.value()->kinds |= HistoryKinds::PortScan;
            found.value()->dirty = true;
            countSource(*parsed, found.value()->last, entry.kind, HistoryKinds::PortScan, false);
        }
        return true;
    }
    case Event::Kind::IncidentEnded:
        return forget(keyOf(entry.incident));
    case Event::Kind::Blocked:
        return block(address);
    default:
        return true;
    }
}

HistoryFolding::Open* HistoryFolding::find(const QByteArray& key, qint64 time, bool withinGap)
{
    const auto found = m_open.find(key);
    if (found == m_open.end())
        return nullptr;
    Open* open = found.value().get();
    if (withinGap && time - open->last > m_gap) {
        forget(key);
        return nullptr;
    }
    return open;
}

HistoryFolding::Open* HistoryFolding::start(
    const QByteArray& key, const QByteArray& address, const HistoryEntry& entry, int state)
{
    // The row is written once at the batch's end, with what the batch brought: its id is known
    // now, for the ports and for a block that comes before then.
    if (m_nextId == 0) {
        if (!run(m_lastId))
            return nullptr;
        m_nextId = (m_lastId.next() ? m_lastId.value(0).toLongLong() : 0) + 1;
        m_lastId.finish();
    }
    auto open = std::make_shared<Open>();
    open->key = key;
    open->address = address;
    open->row = m_nextId++;
    open->first = entry.time;
    open->last = entry.time;
    open->utcOffset = entry.utcOffset;
    open->sources = 1;
    open->state = state;
    open->dirty = true;
    m_open.insert(key, open);
    return open.get();
}

bool HistoryFolding::addPort(Open& open, int port, bool udp)
{
    open.dirty = true;
    if (port <= 0)
        return true;
    const int seen = port | (udp ? 1 << 16 : 0);
    if (open.portsSeen.contains(seen))
        return true;
    if (open.portsSeen.size() < MaxPortsSeen)
        open.portsSeen.insert(seen);
    if (open.listed < MaxListedPorts) {
        if (!open.ports.isEmpty())
            open.ports += QLatin1Char(',');
        open.ports += QString::number(port);
        if (udp)
            open.ports += QStringLiteral("/udp");
        if (++open.listed == MaxListedPorts)
            open.ports += QStringLiteral(",…");
    }
    m_insertPort.bindValue(0, port);
    m_insertPort.bindValue(1, open.row);
    return run(m_insertPort);
}

bool HistoryFolding::store(Open& open)
{
    if (!open.dirty)
        return true;
    QSqlQuery& query = open.inserted ? m_updateIncident : m_insertIncident;
    query.bindValue(0, open.address);
    query.bindValue(1, open.last);
    query.bindValue(2, open.ports);
    query.bindValue(3, open.kinds);
    query.bindValue(4, open.count);
    query.bindValue(5, open.sources);
    query.bindValue(6, open.spoofable ? 1 : 0);
    query.bindValue(7, open.state);
    query.bindValue(8, open.row);
    if (!open.inserted) {
        query.bindValue(9, open.first);
        query.bindValue(10, open.utcOffset);
    }
    if (!run(query))
        return false;
    open.dirty = false;
    open.inserted = true;
    return true;
}

bool HistoryFolding::forget(const QByteArray& key)
{
    const auto found = m_open.find(key);
    if (found == m_open.end())
        return true;
    const std::shared_ptr<Open> open = found.value();
    m_open.erase(found);
    return store(*open);
}

bool HistoryFolding::block(const QByteArray& address)
{
    // The latest incident may still be open, its row waiting for this batch's end.
    Open* latest = nullptr;
    for (const std::shared_ptr<Open>& open : std::as_const(m_open)) {
        if (open->address == address && open->state != int(HistoryState::Allowed)
            && !open->key.startsWith(char(Flood)) && (!latest || open->row > latest->row))
            latest = open.get();
    }
    if (latest) {
        latest->state = int(HistoryState::Blocked);
        latest->dirty = true;
        return true;
    }
    m_blockLatest.bindValue(0, address);
    return run(m_blockLatest);
}

void HistoryFolding::countSource(
    const IpAddress& address, qint64 time, Event::Kind kind, unsigned kinds, bool newIncident)
{
    SourceChange& change = m_sources[blobOf(address)];
    if (change.address.isNull()) {
        change.address = address;
        change.first = time;
    }
    change.first = std::min(change.first, time);
    change.last = std::max(change.last, time);
    change.count += kind == Event::Kind::Intrusion ? 1 : 0;
    change.incidents += newIncident ? 1 : 0;
    change.kinds |= kinds;
}

void HistoryFolding::countHour(qint64 time, int kind, int port, qint64 probes)
{
    m_hours[hourKey(time / HourMs, kind, port)] += probes;
}

bool HistoryFolding::finish()
{
    for (const std::shared_ptr<Open>& open : std::as_const(m_open)) {
        if (!store(*open))
            return false;
    }
    m_nextId = 0; // another writer's rows may come between two batches (the import)
    return storeSources() && storeHours() && expire();
}

bool HistoryFolding::storeSources()
{
    for (auto it = m_sources.cbegin(); it != m_sources.cend(); ++it) {
        const SourceChange& change = it.value();
        SourceLocation location;
        if (m_locator) {
            m_sourceKnown.bindValue(0, it.key());
            if (!run(m_sourceKnown))
                return false;
            const bool known = m_sourceKnown.next();
            m_sourceKnown.finish();
            if (!known)
                location = m_locator->locate(change.address);
            if (location.asn != 0 && !location.owner.isEmpty()) {
                m_insertNetwork.bindValue(0, location.asn);
                m_insertNetwork.bindValue(1, location.owner);
                if (!run(m_insertNetwork))
                    return false;
            }
        }
        m_upsertSource.bindValue(0, it.key());
        m_upsertSource.bindValue(1, change.address.toString());
        m_upsertSource.bindValue(2, change.first);
        m_upsertSource.bindValue(3, change.last);
        m_upsertSource.bindValue(4, change.count);
        m_upsertSource.bindValue(5, change.incidents);
        m_upsertSource.bindValue(6, change.kinds);
        m_upsertSource.bindValue(7, location.country.isNull() ? QStringLiteral("") : location.country);
        m_upsertSource.bindValue(8, location.asn);
        if (!run(m_upsertSource))
            return false;
    }
    m_sources.clear();
    return true;
}

bool HistoryFolding::storeHours()
{
    for (auto it = m_hours.cbegin(); it != m_hours.cend(); ++it) {
        m_upsertHour.bindValue(0, qint64(it.key() >> 24));
        m_upsertHour.bindValue(1, int(it.key() >> 16 & 0xff));
        m_upsertHour.bindValue(2, int(it.key() & 0xffff));
        m_upsertHour.bindValue(3, it.value());
        if (!run(m_upsertHour))
            return false;
    }
    m_hours.clear();
    return true;
}

bool HistoryFolding::expire()
{
    // Written already: forgetting only lets later probes start a new row. The pipeline ends its
    // own incidents; one whose end never came is let go a while after its gap.
    std::vector<std::pair<qint64, QByteArray>> byAge;
    for (auto it = m_open.begin(); it != m_open.end();) {
        const qint64 idle = m_latest - it.value()->last;
        const bool pipeline = it.key().startsWith(char(Pipeline));
        if (idle > (pipeline ? 2 * m_gap + 60000 : m_gap)) {
            it = m_open.erase(it);
        } else {
            byAge.emplace_back(it.value()->last, it.key());
            ++it;
        }
    }
    if (qsizetype(byAge.size()) > MaxOpen) {
        std::sort(byAge.begin(), byAge.end());
        for (std::size_t i = 0; i < byAge.size() - std::size_t(MaxOpen); ++i)
            m_open.remove(byAge[i].second);
    }
    return true;
}

void HistoryFolding::forgetAll()
{
    m_nextId = 0;
    m_open.clear();
    m_sources.clear();
    m_hours.clear();
}
