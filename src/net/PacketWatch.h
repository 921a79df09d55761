#pragma once

#include "TcpProbe.h"

#include <QList>
#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>
#include <utility>

#include <sys/types.h>

class QSocketNotifier;

// Sees the TCP segments that open no connection: SYNs, the flag combinations no real connection
// sends, and fragments made to hide them. The watch helper holds the packet socket and keeps
// running without any capability; this class starts it, then reads the header records it writes
// over a socket pair, a batch at a time, on the event loop. No packet and no packet socket ever
// comes into this process.
class PacketWatch : public QObject
{
    Q_OBJECT

public:
    enum class State {
        Off,
        Armed, // the helper runs and writes records
        NeedsPrivilege, // no helper installed, or it may not be run by this user
        Failed, // the helper ran but its answer could not be used, or it ended
    };

    explicit PacketWatch(QObject* parent = nullptr);
    // helperPath: the watch helper; empty when none is installed.
    explicit PacketWatch(QString helperPath, QObject* parent = nullptr, int timeoutMs = 3000);
    ~PacketWatch() override;

    // Where a service listens that starts one helper per connection (the systemd socket unit),
    // so that this process never needs the helper's privilege: start() connects there instead of
    // starting the helper, and speaks the same protocol. Empty: start the helper itself.
    void useService(QString socketPath);

    // Starts the helper (or connects to the service) and waits for its answer (a few milliseconds;
    // at most the time-out).
    [[nodiscard]] State start();
    // Closes the socket pair, upon which the helper ends, and reaps it (the service reaps its own).
    void stop();
    State state() const { return m_state; }

    // Segments lost before they were read: dropped by the kernel because the helper's ring was
    // full, or by the helper because this process read too slowly. All of them, and those since
    // the last take.
    std::uint64_t dropped() const { return m_dropped; }
    std::uint64_t takeDropped() { return m_dropped - std::exchange(m_droppedTaken, m_dropped); }

signals:
    void probesSeen(const QList<TcpProbe>& probes);

private:
    State handshake();
    void readBatches();
    void endHelper();

    QString m_helperPath;
    QString m_servicePath;
    int m_timeoutMs = 3000;
    State m_state = State::Off;
    std::uint64_t m_dropped = 0;
    std::uint64_t m_droppedTaken = 0;
    int m_channel = -1;
    pid_t m_helper = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::unique_ptr<std::uint8_t[]> m_buffer;
};
