#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <optional>

class IpAddress;

// Which incidents to show. Every part left at its default matches everything; the parts given
// must all match. Built by the window's filter bar and by the command line from the same texts.
struct HistoryFilter
{
    // A range of the stored 16-byte addresses (IPv4 mapped into ::ffff:0:0/96), both ends included.
    struct AddressRange
    {
        QByteArray low;
        QByteArray high;
        friend bool operator==(const AddressRange&, const AddressRange&) = default;
    };

    std::optional<AddressRange> addresses;
    int port = 0; // 0: any port
    unsigned kinds = 0; // any of these HistoryKinds bits; 0: any kind
    qint64 since = 0; // ms since the epoch (UTC): incidents still going at or after it; 0: no limit
    qint64 until = 0; // incidents begun at or before it; 0: no limit
    QString text; // free text: the address's text, country, network owner or ports contain it

    bool isEmpty() const;

    // "192.0.2.7", "192.0.2.0/24", "2001:db8::/32", "::ffff:192.0.2.0/120" (the IPv4 range it
    // maps). Host bits beyond the prefix are ignored. nullopt when it is neither.
    static std::optional<AddressRange> parseAddress(QStringView text);
    // "connect", "udp,half_open", "port_scan", ... (the names the events use), commas or blanks
    // between; nullopt for an unknown name or none.
    static std::optional<unsigned> parseKinds(QStringView text);
    // "30m", "24h", "7d" (or "90s") as milliseconds; nullopt otherwise.
    static std::optional<qint64> parseAge(QStringView text);
    // A port 1-65535; nullopt otherwise.
    static std::optional<int> parsePort(QStringView text);

    // The key an address is stored under: its 16 bytes, IPv4 mapped.
    static QByteArray addressKey(const IpAddress& address);
    // The text of a stored key: dotted quad for mapped IPv4.
    static QString addressText(const QByteArray& key);
    // "connect,udp,port_scan" for a set of bits, lowest first.
    static QString kindNames(unsigned kinds);
};
