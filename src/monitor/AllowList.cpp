#include "AllowList.h"

#include <QRegularExpression>

#include <arpa/inet.h>

namespace {
// Strict text forms only: the resolver's lenient parser would read "10.1" as 10.0.0.1 and
// "010.0.0.1" as octal, neither of which a user means.
bool parseAddress(const QString& text, QHostAddress* address)
{
    const QByteArray latin = text.toLatin1();
    if (text.contains(QLatin1Char(':'))) {
        Q_IPV6ADDR bytes;
        if (::inet_pton(AF_INET6, latin.constData(), &bytes) != 1)
            return false;
        *address = QHostAddress(bytes);
        return true;
    }
    in_addr v4 {};
    if (::inet_pton(AF_INET, latin.constData(), &v4) != 1)
        return false;
    *address = QHostAddress(quint32(ntohl(v4.s_addr)));
    return true;
}

// ::ffff:a.b.c.d as the IPv4 address it stands for; anything else unchanged.
QHostAddress unmapped(const QHostAddress& address)
{
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    return mapped && address.protocol() == QAbstractSocket::IPv6Protocol ? QHostAddress(v4) : address;
}
} // namespace

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

bool AllowList::parseEntry(const QString& entry, Range* range, QString* reason)
{
    const qsizetype slash = entry.indexOf(QLatin1Char('/'));
    const QString addressText = slash < 0 ? entry : entry.left(slash);
    QHostAddress address;
    if (entry.isEmpty() || !parseAddress(addressText, &address)) {
        *reason = QStringLiteral("not an IPv4 or IPv6 address");
        return false;
    }
    const bool v4 = address.protocol() == QAbstractSocket::IPv4Protocol;
    const int fullLength = v4 ? 32 : 128;
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
    // A mapped range is kept as the IPv4 range it covers, so one comparison serves both forms.
    bool mapped = false;
    address.toIPv4Address(&mapped);
    if (!v4 && mapped && prefix >= 96) {
        address = unmapped(address);
        prefix -= 96;
    }
    *range = { address, prefix };
    return true;
}

bool AllowList::contains(const QHostAddress& address) const
{
    const QHostAddress peer = unmapped(address);
    for (const Range& range : m_ranges) {
        if (peer.isInSubnet(range.first, range.second))
            return true;
    }
    return false;
}

bool AllowList::contains(const QString& address) const
{
    if (m_ranges.isEmpty())
        return false;
    QHostAddress peer;
    // A link-local peer carries its interface ("fe80::1%eth0"); the entries name none.
    if (!peer.setAddress(address.section(QLatin1Char('%'), 0, 0)))
        return false;
    return contains(peer);
}
