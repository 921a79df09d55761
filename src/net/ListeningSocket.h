#pragma once

#include "IpAddress.h"

#include <QObject>
#include <QString>
#include <QTimer>

class QSocketNotifier;
struct sockaddr_storage;

// A TCP port that takes every connection and drops it at once, on the event loop of the thread
// that owns it. One dual-stack socket serves IPv4 and IPv6 peers. Each connection is accepted,
// closed without a byte read or sent, and reported with the peer's address and the local port,
// in the order the connections arrived. The port keeps listening throughout, also when the
// process runs out of file descriptors.
class ListeningSocket : public QObject
{
    Q_OBJECT

public:
    enum class State { Closed, Listening };
    enum class ListenResult {
        Ok,
        InUse, // another socket holds the port
        NeedsPrivileges, // the port is reserved to privileged users
        OtherError,
    };

    explicit ListeningSocket(QObject* parent = nullptr);
    ~ListeningSocket() override;

    // A peer's address as connectionAccepted reports it (a mapped IPv4 address unmapped), and its
    // port.
    static IpAddress peerAddress(const sockaddr_storage& peer, int* peerPort);
    // What a failed bind or listen with this errno means to the user.
    static ListenResult resultOf(int error);

    // The port that listen() binds. After a successful listen() it reads back the bound port,
    // which is how a listen on port 0 learns the port the system chose.
    int localPort() const { return m_localPort; }
    void setLocalPort(int port) { m_localPort = port; }

    State state() const { return m_fd < 0 ? State::Closed : State::Listening; }
    // Connections the kernel completed that wait to be accepted.
    bool hasWaiting() const;

    // Binds localPort() on every local interface and listens. A socket that is listening is
    // closed first. On failure the socket stays closed.
    [[nodiscard]] ListenResult listen();
    // Takes over a socket someone else bound and set listening (see PortBinder), as if listen()
    // had made it; localPort() then reads its port. The descriptor is this socket's from now on.
    [[nodiscard]] ListenResult adopt(int fd);
    // Stops listening; harmless on a closed socket.
    void close();

signals:
    // A connection came in and has already been closed. An IPv4 peer that arrives as
    // ::ffff:a.b.c.d is IPv4; peerPort is the port the connection came from.
    void connectionAccepted(const IpAddress& peer, int localPort, int peerPort);

private:
    void start(int fd);
    void acceptPending();
    bool acceptWithSpare();
    void pause();
    void resume();
    void reportPeer(const sockaddr_storage& peer);

    int m_fd = -1;
    // A descriptor held in reserve: when the process runs out of descriptors, closing it lets one
    // pending connection be accepted and dropped instead of staying in the queue and waking the
    // event loop again at once.
    int m_spareFd = -1;
    int m_localPort = 0;
    QSocketNotifier* m_notifier = nullptr;
    QTimer m_retry;
};
