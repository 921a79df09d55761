#pragma once

#include "PacketRing.h"
#include "TcpProbe.h"

#include <QList>
#include <QObject>
#include <QString>

#include <array>
#include <cstdint>
#include <memory>
#include <utility>

class QSocketNotifier;

// Sees the TCP segments that open no connection: SYNs and the flag combinations no real
// connection sends. The socket comes from the watch helper, already filtered to headers only;
// this class only reads it, a block of packets at a time from its receive ring, on the event loop.
class PacketWatch : public QObject
{
    Q_OBJECT

public:
    enum class State {
        Off,
        Armed, // reading the helper's socket
        NeedsPrivilege, // no helper installed, or it may not be run by this user
        Failed, // the helper ran but its answer could not be used
    };

    explicit PacketWatch(QObject* parent = nullptr);
    // helperPath: the watch helper; empty when none is installed.
    explicit PacketWatch(QString helperPath, QObject* parent = nullptr, int timeoutMs = 3000);
    ~PacketWatch() override;

    // Runs the helper once and reads the socket it hands over. Takes as long as the helper runs
    // (a few milliseconds; at most the time-out).
    [[nodiscard]] State start();
    // Reads a packet socket the caller already holds (Armed), or closes it (Failed) when it is
    // not one; the watch owns it from here on.
    [[nodiscard]] State adopt(int fd);
    void stop();
    State state() const { return m_state; }

    // Segments the kernel dropped because the receive ring was full: all of them, and those
    // since the last take.
    std::uint64_t dropped() const { return m_dropped; }
    std::uint64_t takeDropped() { return m_dropped - std::exchange(m_droppedTaken, m_dropped); }

signals:
    void probesSeen(const QList<TcpProbe>& probes);

private:
    void readBatches();

    QString m_helperPath;
    int m_timeoutMs = 3000;
    State m_state = State::Off;
    std::uint64_t m_dropped = 0;
    std::uint64_t m_droppedTaken = 0;
    int m_fd = -1;
    PacketRing m_ring;
    std::unique_ptr<QSocketNotifier> m_notifier;
    // Hashes of the latest segments, one slot per hash value: a segment seen on two interfaces
    // (a bridge and its port, a VLAN and its link) arrives twice within microseconds.
    std::array<std::uint64_t, 4096> m_recent {};
};
