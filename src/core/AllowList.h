#pragma once

#include "IpAddress.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <utility>

// Sources whose connections raise no alarm: single addresses and CIDR ranges, IPv4 and IPv6.
// A mapped entry (::ffff:a.b.c.d) is kept as the IPv4 range it covers.
class AllowList
{
public:
    struct Refusal
    {
        QString entry;
        QString reason;
    };

    // Reads entries separated by commas or blanks. Valid entries go in the list; each invalid
    // one becomes a refusal, in the order written.
    static AllowList parse(const QString& text, QList<Refusal>* refused = nullptr);
    // Why one entry cannot be used; empty when it can.
    static QString check(const QString& entry);
    // The entries of a stored text, one per element.
    static QStringList split(const QString& text);
    // "Allow list: ignored ..." naming each refused entry, for one status line.
    static QString refusalLine(const QList<Refusal>& refused);

    bool contains(const IpAddress& address) const;
    bool isEmpty() const { return m_ranges.isEmpty(); }
    qsizetype size() const { return m_ranges.size(); }

private:
    // A single address is a range with the full-length prefix.
    using Range = std::pair<IpAddress, int>;
    static bool parseEntry(const QString& entry, Range* range, QString* reason);

    QList<Range> m_ranges;
};
