#include "HistoryFilter.h"

#include "HistoryKinds.h"
#include "IpAddress.h"

#include <QList>

#include <algorithm>

namespace {
constexpr std::uint8_t Mapped[12] = { 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff };

// The key with every bit past prefix set to fill (0 or 1).
QByteArray withHostBits(QByteArray key, int prefix, bool fill)
{
    for (int bit = prefix; bit < 128; ++bit) {
        const auto mask = char(0x80 >> (bit % 8));
        key[bit / 8] = char(fill ? key[bit / 8] | mask : key[bit / 8] & ~mask);
    }
    return key;
}

std::optional<int> parseNumber(QStringView text, int low, int high)
{
    if (text.isEmpty() || text.size() > 9
        || !std::all_of(text.begin(), text.end(), [](QChar c) { return c.isDigit(); }))
        return std::nullopt;
    const int value = text.toInt();
    if (value < low || value > high)
        return std::nullopt;
    return value;
}
} // namespace

bool HistoryFilter::isEmpty() const
{
    return !addresses && port == 0 && kinds == 0 && since == 0 && until == 0 && text.isEmpty();
}

std::optional<HistoryFilter::AddressRange> HistoryFilter::parseAddress(QStringView text)
{
    text = text.trimmed();
    const qsizetype slash = text.indexOf(u'/');
    const QStringView host = slash < 0 ? text : text.left(slash);
    const std::optional<IpAddress> address = IpAddress::parse(host);
    if (!address)
        return std::nullopt;
    // An IPv4 prefix counts its bits after the 96 of the mapping; a mapped one written in IPv6 form
    // already counts them.
    const bool ipv4Text = !host.contains(u':');
    int prefix = 128;
    if (slash >= 0) {
        const std::optional<int> length = parseNumber(text.mid(slash + 1), 0, ipv4Text ? 32 : 128);
        if (!length)
            return std::nullopt;
        prefix = ipv4Text ? 96 + *length : *length;
    }
    const QByteArray key = addressKey(*address);
    return AddressRange { withHostBits(key, prefix, false), withHostBits(key, prefix, true) };
}

std::optional<unsigned> HistoryFilter::parseKinds(QStringView text)
{
    unsigned kinds = 0;
    for (const QStringView name : text.split(QChar(u','))) {
        for (const QStringView word : name.split(QChar(u' '), Qt::SkipEmptyParts)) {
            const auto found = std::find_if(
                HistoryKinds::Names.begin(), HistoryKinds::Names.end(), [&word](const char* known) {
                    return word.compare(QLatin1String(known), Qt::CaseInsensitive) == 0;
                });
            if (found == HistoryKinds::Names.end())
                return std::nullopt;
            kinds |= 1u << (found - HistoryKinds::Names.begin());
        }
    }
    if (kinds == 0)
        return std::nullopt;
    return kinds;
}

std::optional<qint64> HistoryFilter::parseAge(QStringView text)
{
    text = text.trimmed();
    if (text.size() < 2)
        return std::nullopt;
    qint64 unit = 0;
    switch (text.back().unicode()) {
    case u's':
        unit = 1000;
        break;
    case u'm':
        unit = 60 * 1000;
        break;
    case u'h':
        unit = 3600 * 1000;
        break;
    case u'd':
        unit = 86400 * 1000;
        break;
    default:
        return std::nullopt;
    }
    // A hundred years at most; nine digits cannot overflow on the way.
    const std::optional<int> amount = parseNumber(text.chopped(1), 1, 999999999);
    if (!amount || qint64(*amount) * unit > qint64(36500) * 86400 * 1000)
        return std::nullopt;
    return qint64(*amount) * unit;
}

std::optional<int> HistoryFilter::parsePort(QStringView text)
{
    return parseNumber(text.trimmed(), 1, 65535);
}

QByteArray HistoryFilter::addressKey(const IpAddress& address)
{
    if (address.isIpv4()) {
        QByteArray key(reinterpret_cast<const char*>(Mapped), sizeof Mapped);
        key.append(reinterpret_cast<const char*>(address.bytes()), 4);
        return key;
    }
    if (address.isIpv6())
        return QByteArray(reinterpret_cast<const char*>(address.bytes()), 16);
    return {};
}

QString HistoryFilter::addressText(const QByteArray& key)
{
    if (key.size() != 16)
        return {};
    return IpAddress::fromIpv6(reinterpret_cast<const std::uint8_t*>(key.constData())).toString();
}

QString HistoryFilter::kindNames(unsigned kinds)
{
    QStringList names;
    for (std::size_t bit = 0; bit < HistoryKinds::Names.size(); ++bit) {
        if (kinds & (1u << bit))
            names += QLatin1String(HistoryKinds::Names[bit]);
    }
    return names.join(u',');
}
