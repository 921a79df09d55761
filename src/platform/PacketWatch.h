#pragma once

#include "TcpProbe.h"

#include <QList>
#include <QObject>

#include <cstdint>

// Sees the TCP segments that open no connection: SYNs and the flag combinations no real
// connection sends. The socket comes from the watch helper, already filtered to headers only;
// this class only reads it, in batches, on the event loop.
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
    ~PacketWatch() override;

    [[nodiscard]] State start();
    void stop();
    State state() const { return m_state; }

    // Segments the kernel dropped because the socket's buffer was full.
    std::uint64_t dropped() const { return m_dropped; }

signals:
    void probesSeen(const QList<TcpProbe>& probes);

private:
    State m_state = State::Off;
    std::uint64_t m_dropped = 0;
};
