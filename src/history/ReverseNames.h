#pragma once

#include "IpAddress.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>

#include <chrono>
#include <deque>
#include <list>
#include <optional>

// The names sources give themselves in the reverse DNS, for a source's details. Lookups run on
// the resolver's own threads and report back through the event loop, so the UI thread never
// waits; how many run at once, how many wait and how many names are kept are all bounded, since
// the sources a flood brings are many and chosen by the attacker.
//
// An address seen only in probes that can be forged (no completed connection) is not looked up
// unless the user asks for that one source: the query would reach the owner of an address the
// attacker chose, telling them that we saw it, and a forged flood would drive our resolver.
class ReverseNames : public QObject
{
    Q_OBJECT
public:
    struct Limits
    {
        int running = 4; // lookups the resolver works on at once
        int waiting = 32; // requests queued behind them; the oldest gives way to a new one
        int kept = 1024; // names cached, the least recently asked for forgotten first
        std::chrono::milliseconds timeToLive = std::chrono::hours(1);
    };
    // What the history knows of the source: whether any of its probes completed a connection.
    enum class Origin { Connected, SpoofableOnly };
    // A source's details ask on their own; a user's explicit request may look up a forgeable one.
    enum class Ask { Automatically, Explicitly };
    enum class Answer {
        Known, // name() has it already
        Pending, // nameFound() follows, unless newer requests or "off" drop it first
        Off, // "Reverse DNS" is off
        Refused, // a spoofable-only source whose name is not kept, not asked for explicitly
    };

    explicit ReverseNames(QObject* parent = nullptr);
    explicit ReverseNames(Limits limits, QObject* parent = nullptr);
    ~ReverseNames() override;

    // The origin of a source with these history kinds (HistoryKinds bits).
    static Origin originOf(unsigned kinds);

    // Follows "Reverse DNS". Off drops what waits, the answers of what still runs and the names
    // it had.
    void setEnabled(bool enabled);
    bool isEnabled() const { return m_enabled; }

    Answer lookUp(const IpAddress& address, Origin origin, Ask ask = Ask::Automatically);
    // The name while cached and fresh: empty where the address has none; nullopt when unknown.
    std::optional<QString> name(const IpAddress& address);

    int running() const { return int(m_running.size()); }
    int waiting() const { return int(m_waiting.size()); }
    int kept() const { return int(m_cache.size()); }
    // Requests given up for newer ones while the queue was full.
    quint64 dropped() const { return m_dropped; }

signals:
    // A lookup ended; name is empty where the address has none.
    void nameFound(const IpAddress& address, const QString& name);

private:
    struct Entry
    {
        IpAddress address;
        QString name;
        std::chrono::steady_clock::time_point expires;
    };
    void start(const IpAddress& address);
    void keep(const IpAddress& address, const QString& name);
    void startWaiting();

    Limits m_limits;
    bool m_enabled = true;
    QSet<IpAddress> m_running;
    std::deque<IpAddress> m_waiting;
    std::list<Entry> m_recent; // most recently asked for first
    QHash<IpAddress, std::list<Entry>::iterator> m_cache;
    quint64 m_dropped = 0;
};
