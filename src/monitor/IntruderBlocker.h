#pragma once

#include "AllowList.h"
#include "BlockRules.h"
#include "FirewallBlocker.h"
#include "Settings.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QHash>
#include <QSet>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>

class EventSink;
class StatusReporter;

// The addresses Sentrel blocks at the firewall, each until its time runs out: those the user
// blocks by hand and, when "Block Intruders" is on, every intruder the rules let it block. The
// kernel forgets an entry by itself when its time is up; this list then forgets it too. At most
// MaxBlocked at once: a new one pushes the oldest out. Each change is a status line and an event.
// Requests gather while the helper runs and go in calls of up to FirewallBlocker::MaxPerCall
// addresses, so a burst of intruders is blocked whole; any that cannot be (more than MaxWaiting
// waiting, or the helper's queue full) are counted and said in one line once the burst is done.
class IntruderBlocker : public QObject
{
    Q_OBJECT

public:
    static constexpr int MaxBlocked = 256;
    static constexpr int MaxWaiting = 2 * MaxBlocked;

    struct Entry
    {
        QString address; // as the firewall has it: IPv4 dotted, IPv6 without scope
        std::chrono::steady_clock::time_point until;
        bool automatic = false;
        // Probes seen from it since: the firewall drops them, the packet watch still sees them.
        quint64 attempts = 0;
    };

    IntruderBlocker(FirewallBlocker& firewall, StatusReporter& status, EventSink& events, QObject* parent = nullptr);

    // Takes "Block Intruders", "Block Minutes" and the allow list.
    void configure(const Settings::Alarm& settings);
    bool isAutomatic() const { return m_automatic; }
    int blockMinutes() const { return m_minutes; }
    // Where the machine's own addresses and gateways come from; read at most every few seconds.
    void setProtectedSource(std::function<BlockRules::Protected()> source) { m_protectedSource = std::move(source); }

    // Every alarm's source: blocked when automatic blocking is on and the rules allow it.
    void intrusion(const QString& address, bool spoofable);
    // The user's own requests. false (with a status line) when the rules refuse the address.
    bool block(const QString& address, int seconds);
    bool unblock(const QString& address);
    // Asks the firewall what it still blocks (after a restart, say) and takes that as the list.
    void refresh();

    bool isBlocked(const QString& address) const;
    // Whether the address is blocked now; if so the attempt is counted against its block.
    bool countAttempt(const QString& address);
    const QList<Entry>& entries() const { return m_entries; }
    static int secondsLeft(const Entry& entry);

signals:
    void changed();

private:
    bool request(const QString& key, int seconds, bool automatic);
    void answered(const QHostAddress& address, int seconds, FirewallBlocker::Outcome outcome);
    void unblockAnswered(const QHostAddress& address, FirewallBlocker::Outcome outcome);
    void listed(FirewallBlocker::Outcome outcome, const QList<FirewallBlocker::Entry>& entries);
    void expire();
    void remove(qsizetype index, const char* cause);
    void needsPrivilege();
    void flush();
    void sayNotBlocked();
    const BlockRules::Protected& protectedNow();

    FirewallBlocker& m_firewall;
    StatusReporter& m_status;
    EventSink& m_events;
    bool m_automatic = false;
    int m_minutes = 60;
    AllowList m_allow;
    QList<Entry> m_entries; // oldest first
    QHash<QString, bool> m_pending; // asked to block, no answer yet: whether automatically
    QList<FirewallBlocker::Block> m_queue; // asked to block, not yet sent to the helper
    int m_inFlight = 0; // sent to the helper, not yet answered
    int m_notBlocked = 0; // of the current burst: could not be asked for at all
    QSet<QString> m_refusedSaid; // automatic refusals already named in a status line
    QSet<QString> m_failed; // the helper could not block them: automatic blocking does not retry
    bool m_unavailable = false; // the helper cannot block: automatic blocking stops asking
    std::function<BlockRules::Protected()> m_protectedSource = &BlockRules::current;
    BlockRules::Protected m_protected;
    std::chrono::steady_clock::time_point m_protectedRead {};
    QTimer m_expiry;
    QTimer m_flush;
};
