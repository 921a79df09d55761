#pragma once

#include "IpAddress.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QThreadPool>

#include <cstdint>
#include <vector>

// Asks the firewall helper to block addresses for a while, to unblock them, or for what it blocks.
// One call carries up to MaxPerCall addresses, so a burst of intruders costs a few runs of the
// helper. Each call runs the helper on a worker thread of its own, in the order asked, so the
// event loop never waits for it; the answer comes back as one signal per address on the caller's
// thread. At most MaxPending calls wait at once: beyond that a call is refused and counted.
class FirewallBlocker : public QObject
{
    Q_OBJECT

public:
    enum class Outcome {
        Done,
        NeedsPrivilege, // no helper installed, not ours to run, or it lacks its capability
        Failed, // the helper ran but did not do it
        // The helper refused the address itself, whatever the program made of it:
        OwnAddress, // one of this machine's addresses
        Gateway, // a next hop of a default route, in any routing table
        Full, // the firewall table holds as many addresses as it may
    };
    struct Block
    {
        IpAddress address;
        int seconds = 0;
    };
    struct Entry
    {
        IpAddress address;
        int secondsLeft = 0;
    };
    static constexpr int MaxSeconds = 24 * 60 * 60;
    static constexpr int MaxPending = 32;
    static constexpr int MaxPerCall = 64;

    // helperPath: the firewall helper; empty when none is installed.
    explicit FirewallBlocker(QString helperPath, QObject* parent = nullptr, int timeoutMs = 5000);
    ~FirewallBlocker() override;

    // Whether a helper was found that this user may run at all.
    bool isInstalled() const { return !m_helperPath.isEmpty(); }

    // 1 to MaxPerCall distinct addresses. false when the call was refused: too many waiting, too
    // many or no addresses, one that is not an address, or seconds outside 1..MaxSeconds.
    [[nodiscard]] bool block(const QList<Block>& blocks);
    [[nodiscard]] bool unblock(const QList<IpAddress>& addresses);
    [[nodiscard]] bool list();

    // The helper's wire format (it documents it at its top). Empty for a request it would refuse.
    static std::vector<std::uint8_t> addRequest(const QList<Block>& blocks);
    static std::vector<std::uint8_t> deleteRequest(const QList<IpAddress>& addresses);
    // The outcome for each of the count addresses of an add or delete (count 0: a list's).
    static QList<Outcome> outcomesOf(int startError, bool answered, const std::vector<std::uint8_t>& reply, int count);
    static QList<Entry> entriesOf(const std::vector<std::uint8_t>& reply);

signals:
    void blocked(const IpAddress& address, int seconds, FirewallBlocker::Outcome outcome);
    void unblocked(const IpAddress& address, FirewallBlocker::Outcome outcome);
    void listed(FirewallBlocker::Outcome outcome, const QList<FirewallBlocker::Entry>& entries);

private:
    enum class Op { Add, Delete, List };
    bool run(Op op, const QList<Block>& blocks, std::vector<std::uint8_t> request);

    QString m_helperPath;
    int m_timeoutMs;
    int m_pending = 0;
    // One worker: a delete asked after an add must reach the kernel after it.
    QThreadPool m_worker;
};
