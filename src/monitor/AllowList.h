#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>

#include <utility>

// Sources whose connections raise no alarm: single addresses and CIDR ranges, IPv4 and IPv6.
// An IPv4 peer seen through an IPv6 socket (::ffff:a.b.c.d) matches the IPv4 entries.
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

    bool contains(const QHostAddress& address) const;
    bool contains(const QString& address) const;
    bool isEmpty() const { return m_ranges.isEmpty(); }
    qsizetype size() const { return m_ranges.size(); }

private:
    // A single address is a range with the full-length prefix.
    using Range = std::pair<QHostAddress, int>;
    static bool parseEntry(const QString& entry, Range* range, QString* reason);

    QList<Range> m_ranges;
};
