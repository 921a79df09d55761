#include "AllowList.h"

#include <QRegularExpression>


QStringList AllowList::split(const QString& text)
{
    static const QRegularExpression separators(QStringLiteral("[,\\s]+"));
    return text.split(separators, Qt::SkipEmptyParts);
}

AllowList AllowList::parse(const QString& text, QList<Refusal>* refused)
{
    AllowList list;
    for (const QString& entry : split(text)) {
        Range range;
        QString reason;
        if (parseEntry(entry, &range, &reason))
            list.m_ranges.append(range);
        else if (refused)
            refused->append({ entry, reason });
    }
    return list;
}

QString AllowList::check(const QString& entry)
{
    Range range;
    QString reason;
    parseEntry(entry.trimmed(), &range, &reason);
    return reason;
}

QString AllowList::refusalLine(const QList<Refusal>& refused)
{
    QStringList parts;
    for (const Refusal& r : refused)
        parts << QLatin1Char('"') + r.entry + QLatin1String("\" (") + r.reason + QLatin1Char(')');
    return QLatin1String("Allow list: ignored ") + parts.join(QLatin1String(", "));
}

bool AllowList::parseEntry(QString entry, Range* range, QString* reason)
{
    // One colon (IPv4) or a bracketed address before the last one: a port follows.
    int port = 0;
    const qsizetype colon = entry.lastIndexOf(QLatin1Char(':'));
    const bool bracketed = entry.startsWith(QLatin1Char('[')) && colon > 0 && entry.at(colon - 1) == QLatin1Char(']');
    if (bracketed || (colon >= 0 && entry.count(QLatin1Char(':')) == 1)) {
        static const QRegularExpression digits(QStringLiteral("^[1-9][0-9]{0,4}$"));
        const QString portText = entry.mid(colon + 1);
        port = digits.match(portText).hasMatch() ? portText.toInt() : 0;
        if (port < 1 || port > 65535) {
            *reason = QStringLiteral("port must be 1 to 65535");
            return false;
        }
        entry = bracketed ? entry.mid(1, colon - 2) : entry.left(colon);
        if (!bracketed && entry.contains(QLatin1Char(':'))) {
            *reason = QStringLiteral("an IPv6 address with a port goes in brackets");
            return false;
        }
    }
    const qsizetype slash = entry.indexOf(QLatin1Char('/'));
    const QString addressText = slash < 0 ? entry : entry.left(slash);
    const std::optional<IpAddress> address
        = addressText.contains(QLatin1Char('%')) ? std::nullopt : IpAddress::parse(addressText);
    if (entry.isEmpty() || !address) {
        *reason = QStringLiteral("not an IPv4 or IPv6 address");
        return false;
    }
    // A mapped address parses as IPv4, but its prefix counts the 96 bits before it.
    const bool mapped = address->isIpv4() && addressText.contains(QLatin1Char(':'));
    const int fullLength = address->isIpv4() && !mapped ? 32 : 128;
    int prefix = fullLength;
    if (slash >= 0) {
        static const QRegularExpression digits(QStringLiteral("^[0-9]{1,3}$"));
        const QString prefixText = entry.mid(slash + 1);
        prefix = digits.match(prefixText).hasMatch() ? prefixText.toInt() : -1;
        if (prefix < 0 || prefix > fullLength) {
            *reason = QStringLiteral("prefix length must be 0 to %1").arg(fullLength);
            return false;
        }
    }
    // A mapped range is kept as the IPv4 range it covers, so one comparison serves both forms; a
    // shorter prefix reaches beyond the mapped block and stays an IPv6 range.
    if (mapped && prefix >= 96)
        *range = { *address, prefix - 96, port };
    else if (mapped) {
        std::uint8_t bytes[16] = { 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff };
        std::memcpy(bytes + 12, address->bytes(), 4);
        *range = { IpAddress::fromIpv6Exact(bytes), prefix, port };
    } else
        *range = { *address, prefix, port };
    return true;
}

bool AllowList::contains(const IpAddress& address) const
{
    return contains(address, 0);
}

bool AllowList::contains(const IpAddress& address, int port) const
{
    for (const Range& range : m_ranges) {
        if ((range.port == 0 || range.port == port) && address.isInSubnet(range.address, range.prefix))
            return true;
    }
    return false;
}

QString AllowList::entryFor(const IpAddress& address, int port)
{
    const QString text = address.toString();
    if (port < 1 || port > 65535)
        return text;
    return (address.isIpv4() ? text : QLatin1Char('[') + text + QLatin1Char(']')) + QLatin1Char(':')
        + QString::number(port);
}

