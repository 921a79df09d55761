#pragma once

#include <QAbstractSocket>
#include <QByteArray>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>

// How long to wait before connecting again: first after a loss, doubling up to max.
struct CollectorBackoff
{
    std::chrono::milliseconds first { 500 };
    std::chrono::milliseconds max { 30000 };
};

// Sends syslog messages to a collector over TCP (octet-counted frames) or UDP (one datagram per
// message) without ever blocking the event loop. Messages wait in a bounded queue while the
// collector is unreachable or does not read; when it is full the oldest go, counted, and the first
// message after the gap (one however long the gap) tells the collector how many it missed,
// counting too the messages still in the socket's own buffer when a connection broke (what the
// kernel had taken is beyond anyone's count). A lost
// connection is retried with a delay that doubles up to a limit and starts over once a connection
// stands.
class RemoteCollector : public QObject
{
    Q_OBJECT

public:
    using Backoff = CollectorBackoff;
    enum class Protocol { Tcp, Udp };
    static constexpr int DefaultQueueLimit = 10000;
    // Enough for a burst to flow without letting the socket's own buffer grow without bound: the
    // bounded queue is where messages wait.
    static constexpr qint64 SocketBufferLimit = 256 * 1024;

    // droppedNotice makes the message that reports a number of dropped messages.
    using DroppedNotice = std::function<QByteArray(quint64 dropped)>;

    explicit RemoteCollector(DroppedNotice droppedNotice, Backoff backoff = {}, QObject* parent = nullptr);
    ~RemoteCollector() override;

    void open(const QString& host, int port, Protocol protocol, int queueLimit = DefaultQueueLimit);
    void close();
    bool isOpen() const { return m_socket != nullptr; }

    // message: one syslog message, unframed; sequence: the event's number.
    void send(const QByteArray& message, quint64 sequence);
    // Waits up to timeout for the queued messages to leave; for the end of the program only.
    void flush(std::chrono::milliseconds timeout);

    // The last event handed over to the network (for TCP: out of the socket's own buffer too).
    quint64 deliveredThrough() const { return m_deliveredThrough; }
    quint64 droppedTotal() const { return m_droppedTotal; }
    qsizetype queued() const { return qsizetype(m_queue.size()); }
    // Bytes given to the socket that the kernel has not taken yet.
    qint64 bufferedBytes() const { return m_socket ? m_socket->bytesToWrite() : 0; }
    bool isConnected() const;

private:
    struct Pending
    {
        QByteArray message;
        quint64 sequence;
    };

    // A message given to the socket whose bytes may still sit in the socket's own buffer.
    struct InFlight
    {
        qint64 end; // counted in bytes given to this connection
        quint64 sequence;
    };

    void connectNow();
    void connectionLost();
    void pump();
    void written(qint64 bytes);
    bool writeMessage(const QByteArray& message, quint64 sequence);
    void drop(quint64 count);

    DroppedNotice m_droppedNotice;
    Backoff m_backoff;
    std::chrono::milliseconds m_delay;
    QString m_host;
    quint16 m_port = 0;
    Protocol m_protocol = Protocol::Tcp;
    int m_queueLimit = DefaultQueueLimit;
    std::unique_ptr<QAbstractSocket> m_socket;
    std::deque<Pending> m_queue;
    std::deque<InFlight> m_inFlight;
    qint64 m_bytesGiven = 0;
    qint64 m_bytesWritten = 0;
    bool m_pumping = false;
    QTimer m_retry;
    quint64 m_deliveredThrough = 0;
    quint64 m_droppedTotal = 0;
    quint64 m_droppedUnreported = 0;
};
