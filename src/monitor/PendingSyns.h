#pragma once

#include "TcpProbe.h"
#include "Throttle.h"

#include <QHash>
#include <QList>

#include <chrono>
#include <list>
#include <optional>
#include <utility>

// The SYNs to guarded ports still waiting for their connection to be accepted. One that is not
// accepted within the deadline was a half-open probe: the scanner reset it after the SYN-ACK.
// The packet watch and the listener are read in turns, so a connection's accept may come before
// its SYN is read: accepts are remembered for a while, and such a SYN never waits. The kernel
// sometimes hands the watch a connection's SYN a second time, milliseconds after the connection
// was accepted (and the watch's filter for repeats forgets): completed connections are remembered
// with their SYN's sequence number for a while, and a SYN repeating one is that connection again.
// A new connection from the same port has a new sequence number and waits as any other.
//
// Forged SYNs cost nothing, so at most MaxPending wait at once: a new one beyond that drops the
// oldest, counted, rather than growing without end; the new one takes the dropped one's place, so
// a flood allocates nothing per SYN.
class PendingSyns
{
public:
    static constexpr qsizetype MaxPending = 4096;
    static constexpr std::chrono::milliseconds Deadline { 1000 };
    // How long an accept waits for its SYN: a flood can keep the watch's queue seconds behind.
    static constexpr std::chrono::milliseconds AcceptKept { 5000 };
    // How long a completed connection's SYN is known again; under load the cap binds first (at
    // 25,000 connections a second, 160 ms: repeats came 10 ms after the first).
    static constexpr std::chrono::milliseconds CompletedKept { 5000 };

    explicit PendingSyns(Throttle::Clock clock = &Throttle::steadyNow);

    // A retransmitted SYN keeps its first deadline.
    void syn(const TcpProbe& probe);
    void accepted(const IpAddress& source, int sourcePort, int port);
    // The SYNs past their deadline with no accepted connection, oldest first.
    QList<TcpProbe> takeDue();
    void clear();

    qsizetype waitingCount() const { return m_waiting.index.size(); }
    bool isEmpty() const
    {
        return m_waiting.byAge.empty() && m_accepted.byAge.empty() && m_completed.byAge.empty();
    }
    // SYNs dropped for the cap since the last call.
    quint64 takeDropped() { return std::exchange(m_dropped, 0); }

private:
    struct Key
    {
        IpAddress source;
        quint16 sourcePort;
        quint16 port;
        bool operator==(const Key&) const = default;
        friend size_t qHash(const Key& key, size_t seed = 0)
        {
            return qHashMulti(seed, key.source, key.sourcePort, key.port);
        }
    };
    struct Entry
    {
        Key key;
        std::chrono::milliseconds seen;
        TcpProbe probe;
    };
    // Oldest first: the clock only moves on, so the front is the next due.
    struct Table
    {
        std::list<Entry> byAge;
        QHash<Key, std::list<Entry>::iterator> index;

        // False when the cap made room by dropping the oldest.
        bool add(Entry entry);
        bool remove(const Key& key);
        // The entry under key, taken out of the table.
        std::optional<Entry> take(const Key& key);
        void dropOlderThan(std::chrono::milliseconds limit);
    };

    void completed(Entry entry);

    Throttle::Clock m_clock;
    Table m_waiting;
    Table m_accepted;
    Table m_completed; // each entry's probe holds the SYN's sequence number
    quint64 m_dropped = 0;
};
