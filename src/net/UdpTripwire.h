#pragma once

#include "ListeningSocket.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <utility>

class QSocketNotifier;

// A UDP port nobody serves, bound on every interface (one dual-stack socket). Each datagram is
// taken off the queue unread and reported with its sender; nothing is ever sent back, so a
// scanner learns no more than from a closed port that stays silent.
class UdpTripwire : public QObject
{
    Q_OBJECT

public:
    using ListenResult = ListeningSocket::ListenResult;

    explicit UdpTripwire(QObject* parent = nullptr);
    ~UdpTripwire() override;

    // Binds the port; an open tripwire is closed first. On failure it stays closed.
    [[nodiscard]] ListenResult open(int port);
    // Takes over a UDP socket someone else bound to port (see PortBinder), as if open had bound it.
    [[nodiscard]] ListenResult adopt(int fd, int port);
    void close();
    bool isOpen() const { return m_fd >= 0; }
    // Datagrams the kernel dropped because the queue was full since the last call, as far as it
    // told with the datagrams read since.
    std::uint32_t takeDropped() { return m_dropped - std::exchange(m_droppedTaken, m_dropped); }

signals:
    // peer as ListeningSocket::connectionAccepted gives it.
    void datagramReceived(const IpAddress& peer, int localPort, int peerPort);

private:
    void readPending();

    int m_fd = -1;
    int m_port = 0;
    std::uint32_t m_dropped = 0; // the socket's own count, from its open
    std::uint32_t m_droppedTaken = 0;
    QSocketNotifier* m_notifier = nullptr;
};
