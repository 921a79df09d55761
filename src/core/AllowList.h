#pragma once

#include "IpAddress.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <utility>

// Sources whose connections raise no alarm: single addresses and CIDR ranges, IPv4 and IPv6.
// A mapped entry (::ffff:a.b.c.d) is kept as the IPv4 range it covers. An entry may name one
// port, "192.0.2.7:21" or "[2001:db8::7]:21": the source is then allowed on that port alone.
// Versions that predate the port form refuse such an entry, so they alarm on it as before.
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

    // Whether the source is allowed on every port; entries for one port do not count.
    bool contains(const IpAddress& address) const;
    // Whether the source is allowed on this port (a probe not aimed at one port: 0).
    bool contains(const IpAddress& address, int port) const;
    // An entry allowing the address, on one port when port is 1-65535.
    static QString entryFor(const IpAddress& address, int port = 0);
    bool isEmpty() const { return m_ranges.isEmpty(); }
    qsizetype size() const { return m_ranges.size(); }

private:
    // A single address is a range with the full-length prefix; port 0 for every port.
    struct Range
    {
        IpAddress address;
        int prefix = 0;
        int port = 0;
    };
    static bool parseEntry(QString entry, Range* range, QString* reason);

    QList<Range> m_ranges;
};
