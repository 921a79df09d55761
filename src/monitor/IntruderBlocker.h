#pragma once

#include "AllowList.h"
#include "BlockRules.h"
#include "FirewallBlocker.h"
#include "Settings.h"
#include "IntrusionObserver.h"

#include <QList>
#include <QObject>
#include <QHash>
#include <QSet>
#include <QString>
#include <QTimer>

#include <chrono>

class EventSink;
class StatusReporter;

// The addresses Sentrel blocks at the firewall, each until its time runs out: those the user
// blocks by hand and, when "Block Intruders" is on, every intruder the rules let it block. The
// kernel forgets an entry by itself when its time is up; this list then forgets it too. At most
// MaxBlocked at once: a new one pushes the oldest out. Each change is a status line and an event.
// Requests gather while the helper runs and go in calls of up to FirewallBlocker::MaxPerCall
// addresses, so a burst of intruders is blocked whole; any that cannot be (more than MaxWaiting
// waiting, or the helper's queue full) are counted and said in one line once the burst is done.
class IntruderBlocker : public QObject, public IntrusionObserver
{
    Q_OBJECT

public:
    static constexpr int MaxBlocked = 256;
    static constexpr int MaxWaiting = 2 * MaxBlocked;

    struct Entry
    {
        IpAddress address;
        std::chrono::steady_clock::time_point until;
        bool automatic = false;
        // Probes seen from it since: the firewall drops them, the packet watch still sees them.
        quint64 attempts = 0;
    };

    IntruderBlocker(FirewallBlocker& firewall, StatusReporter& status, EventSink& events, QObject* parent = nullptr);

    // Takes "Block Intruders", "Block Minutes" and the allow list.
    void configure(const Settings::Alarm& settings);

    // Every alarm's source: blocked when automatic blocking is on and the rules allow it.
    void intrusion(const Intrusion& intrusion) override;
    // The user's own requests. false (with a status line) when the rules refuse the address.
    bool block(const IpAddress& address, int seconds);
    bool unblock(const IpAddress& address);
    // Asks the firewall what it still blocks (after a restart, say) and takes that as the list.
    void refresh();

    // Whether automatic blocking works, as far as the helper has said: Asking until the first
    // answer after "Block Intruders" was turned on.
    enum class Availability { Off, Asking, Available, NeedsPrivileges };
    Availability availability() const;

    bool isBlocked(const IpAddress& address) const;
    // Its block, or none.
    const Entry* blockOf(const IpAddress& address) const;
    // Whether a block by hand could be had now: a helper that has not said it lacks the rights,
    // and an address the rules let the user block.
    bool canBlock(const IpAddress& address);
    // Whether the address is blocked now; if so the attempt is counted against its block.
    bool countAttempt(const IpAddress& address);
    const QList<Entry>& entries() const { return m_entries; }
    static int secondsLeft(const Entry& entry);

signals:
    void changed();
    void availabilityChanged();

private:
    bool request(const IpAddress& address, int seconds, bool automatic);
    void answered(const IpAddress& address, int seconds, FirewallBlocker::Outcome outcome);
    void unblockAnswered(const IpAddress& address, FirewallBlocker::Outcome outcome);
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
    QHash<IpAddress, bool> m_pending; // asked to block, no answer yet: whether automatically
    QList<FirewallBlocker::Block> m_queue; // asked to block, not yet sent to the helper
    int m_inFlight = 0; // sent to the helper, not yet answered
    int m_notBlocked = 0; // of the current burst: could not be asked for at all
    QSet<IpAddress> m_refusedSaid; // automatic refusals already named in a status line
    QSet<IpAddress> m_failed; // the helper could not block them: automatic blocking does not retry
    bool m_unavailable = false; // the helper cannot block: automatic blocking stops asking
    bool m_asking = false; // turned on, the helper's first answer still to come
    BlockRules::Protected m_protected;
    std::chrono::steady_clock::time_point m_protectedRead {};
    QTimer m_expiry;
    QTimer m_flush;
};
