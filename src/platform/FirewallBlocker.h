#pragma once

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QThreadPool>

#include <cstdint>
#include <vector>

// Asks the firewall helper to block an address for a while, to unblock it, or for what it blocks.
// Each call runs the helper on a worker thread of its own, in the order asked, so the event loop
// never waits for it; the answer comes back as a signal on the caller's thread. At most
// MaxPending calls wait at once: beyond that a call is refused and counted.
class FirewallBlocker : public QObject
{
    Q_OBJECT

public:
    enum class Outcome {
        Done,
        NeedsPrivilege, // no helper installed, not ours to run, or it lacks its capability
        Failed, // the helper ran but did not do it
    };
    struct Entry
    {
        QHostAddress address;
        int secondsLeft = 0;
    };
    static constexpr int MaxSeconds = 24 * 60 * 60;
    static constexpr int MaxPending = 32;

    // helperPath: the firewall helper; empty when none is installed.
    explicit FirewallBlocker(QString helperPath, QObject* parent = nullptr, int timeoutMs = 5000);
    ~FirewallBlocker() override;

    // false when the call was refused: too many waiting, an address the helper would refuse, or
    // seconds outside 1..MaxSeconds.
    [[nodiscard]] bool block(const QHostAddress& address, int seconds);
    [[nodiscard]] bool unblock(const QHostAddress& address);
    [[nodiscard]] bool list();
    int pending() const { return m_pending; }
    quint64 refusedCalls() const { return m_refused; }

    // The helper's wire format (it documents it at its top). Empty for an address it refuses.
    static std::vector<std::uint8_t> addRequest(const QHostAddress& address, int seconds);
    static std::vector<std::uint8_t> deleteRequest(const QHostAddress& address);
    static Outcome outcomeOf(int startError, bool answered, const std::vector<std::uint8_t>& reply);
    static QList<Entry> entriesOf(const std::vector<std::uint8_t>& reply);

signals:
    void blocked(const QHostAddress& address, int seconds, FirewallBlocker::Outcome outcome);
    void unblocked(const QHostAddress& address, FirewallBlocker::Outcome outcome);
    void listed(FirewallBlocker::Outcome outcome, const QList<FirewallBlocker::Entry>& entries);

private:
    enum class Op { Add, Delete, List };
    bool run(Op op, const QHostAddress& address, int seconds, std::vector<std::uint8_t> request);

    QString m_helperPath;
    int m_timeoutMs;
    int m_pending = 0;
    quint64 m_refused = 0;
    // One worker: a delete asked after an add must reach the kernel after it.
    QThreadPool m_worker;
};
