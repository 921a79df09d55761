#include "ProbeFolding.h"

#include <QHash>
#include <QLocale>
#include <QSet>

#include <algorithm>
#include <cmath>
#include <cstring>

struct ProbeFolding::Kind
{
    const char* name = "";
    qint64 probes = 0;
    std::vector<quint64> seen; // one bit per hashed source
    qint64 setBits = 0;
    QSet<quint64> exact; // each source's hash, up to MaxExact of them
    IpAddress address;
    int sourcePort = 0;
    int port = 0;
};

namespace {
constexpr int WordBits = 64;

// What a flood of each kind is called; a kind without its own name is "<kind> flood".
QString floodName(const char* kind)
{
    static const std::pair<const char*, const char*> names[]
        = { { "half_open", "SYN flood" }, { "fin", "FIN flood" }, { "null", "NULL flood" },
              { "xmas", "Xmas flood" }, { "udp", "UDP flood" }, { "port_scan", "port scan flood" } };
    for (const auto& [name, text] : names) {
        if (std::strcmp(name, kind) == 0)
            return QString::fromLatin1(text);
    }
    return QString::fromLatin1(kind) + QLatin1String(" flood");
}

QString counted(qint64 n, const char* one, const char* many)
{
    static const QLocale english(QLocale::English, QLocale::UnitedStates);
    return english.toString(n) + QLatin1Char(' ') + QLatin1String(n == 1 ? one : many);
}

// FNV-1a over the text, then a multiply to spread it: the same in every run, so a count can be
// repeated. The text is written on the stack: a flood folds every probe.
quint64 hashOf(const IpAddress& address)
{
    char text[64];
    const int length = address.write(text);
    quint64 hash = 0xcbf29ce484222325ull;
    for (int i = 0; i < length; ++i)
        hash = (hash ^ static_cast<unsigned char>(text[i])) * 0x100000001b3ull;
    return (hash ^ (hash >> 29)) * 0x9e3779b97f4a7c15ull;
}

// Linear counting: with z of m bits still clear, about m ln(m / z) distinct values were hashed.
qint64 estimate(qint64 setBits)
{
    const double m = ProbeFolding::SourceBits;
    const double clear = std::max(1.0, m - double(setBits));
    return std::max<qint64>(setBits, std::llround(m * std::log(m / clear)));
}
} // namespace

ProbeFolding::ProbeFolding(Throttle::Clock clock)
    : m_clock(std::move(clock))
{
}

ProbeFolding::~ProbeFolding() = default;

bool ProbeFolding::fold(const char* kind, const IpAddress& address, int sourcePort, int port)
{
    const std::chrono::milliseconds now = m_clock();
    if (m_open && now - m_periodStart >= Period)
        endPeriod();
    if (!m_open) {
        m_open = true;
        m_periodStart = now;
        m_seen = 0;
        m_folding = now < m_floodedUntil;
    }
    ++m_seen;
    if (!m_folding && m_seen <= Rate)
        return false;
    m_folding = true;

    auto found = std::find_if(
        m_kinds.begin(), m_kinds.end(), [kind](const Kind& k) { return std::strcmp(k.name, kind) == 0; });
    if (found == m_kinds.end()) {
        found = m_kinds.insert(m_kinds.end(), Kind {});
        found->name = kind;
        found->seen.assign(SourceBits / WordBits, 0);
    }
    Kind& folded = *found;
    ++folded.probes;
    const quint64 hash = hashOf(address);
    if (folded.exact.size() < MaxExact)
        folded.exact.insert(hash);
    const quint64 bit = hash >> (64 - 18);
    static_assert(SourceBits == 1 << 18);
    quint64& word = folded.seen[bit / WordBits];
    const quint64 mask = quint64(1) << (bit % WordBits);
    if (!(word & mask)) {
        word |= mask;
        ++folded.setBits;
    }
    folded.address = address;
    folded.sourcePort = sourcePort;
    folded.port = port;
    return true;
}

void ProbeFolding::endPeriod()
{
    for (Kind& kind : m_kinds) {
        if (kind.probes == 0)
            continue;
        const qint64 sources = kind.exact.size() < MaxExact ? kind.exact.size() : estimate(kind.setBits);
        m_due.push_back({ kind.name, kind.probes, sources, kind.address, kind.sourcePort, kind.port });
        kind.probes = 0;
        kind.exact.clear();
        kind.setBits = 0;
        std::fill(kind.seen.begin(), kind.seen.end(), 0);
    }
    if (m_seen > Rate)
        m_floodedUntil = m_periodStart + 2 * Period;
    m_open = false;
}

std::vector<ProbeFolding::Summary> ProbeFolding::takeDue(bool all)
{
    if (m_open && (all || m_clock() - m_periodStart >= Period))
        endPeriod();
    return std::exchange(m_due, {});
}

QString ProbeFolding::message(const Summary& summary)
{
    return floodName(summary.kind) + QLatin1String(": ") + counted(summary.probes, "probe", "probes")
        + QLatin1String(" from ") + counted(summary.sources, "address", "addresses")
        + QLatin1String(", the addresses may be forged");
}
