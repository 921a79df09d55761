#include "RemoteCollector.h"

#include "Rfc5424.h"

#include <QDeadlineTimer>
#include <QScopeGuard>
#include <QTcpSocket>
#include <QUdpSocket>

RemoteCollector::RemoteCollector(DroppedNotice droppedNotice, Backoff backoff, QObject* parent)
    : QObject(parent)
    , m_droppedNotice(std::move(droppedNotice))
    , m_backoff(backoff)
    , m_delay(backoff.first)
{
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &RemoteCollector::connectNow);
}

RemoteCollector::~RemoteCollector()
{
    close();
}

void RemoteCollector::open(const QString& host, int port, Protocol protocol, int queueLimit)
{
    if (m_socket && host == m_host && port == m_port && protocol == m_protocol) {
        m_queueLimit = queueLimit;
        return;
    }
    close();
    m_host = host;
    m_port = quint16(port);
    m_protocol = protocol;
    m_queueLimit = qMax(1, queueLimit);
    m_delay = m_backoff.first;
    connectNow();
}

void RemoteCollector::close()
{
    m_retry.stop();
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
        // Deleted later: close() may run inside one of the socket's own signals.
        m_socket.release()->deleteLater();
    }
    m_queue.clear();
    m_inFlight.clear();
    m_bytesGiven = m_bytesWritten = 0;
}

bool RemoteCollector::isConnected() const
{
    return m_socket && m_socket->state() == QAbstractSocket::ConnectedState;
}

void RemoteCollector::send(const QByteArray& message, quint64 sequence)
{
    if (!m_socket)
        return;
    if (qsizetype(m_queue.size()) >= m_queueLimit) {
        m_queue.pop_front();
        drop(1);
    }
    m_queue.push_back({ message, sequence });
    pump();
}

void RemoteCollector::flush(std::chrono::milliseconds timeout)
{
    QDeadlineTimer deadline(timeout);
    while (isConnected() && (!m_queue.empty() || m_socket->bytesToWrite() > 0) && !deadline.hasExpired()) {
        pump();
        if (m_socket->bytesToWrite() > 0)
            m_socket->waitForBytesWritten(int(qMax<qint64>(1, deadline.remainingTime())));
    }
}

void RemoteCollector::connectNow()
{
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
        m_socket.release()->deleteLater();
    }
    if (m_protocol == Protocol::Tcp)
        m_socket = std::make_unique<QTcpSocket>();
    else
        m_socket = std::make_unique<QUdpSocket>();
    QAbstractSocket* socket = m_socket.get();
    connect(socket, &QAbstractSocket::connected, this, [this] {
        m_delay = m_backoff.first;
        pump();
    });
    connect(socket, &QAbstractSocket::bytesWritten, this, &RemoteCollector::written);
    connect(socket, &QAbstractSocket::disconnected, this, &RemoteCollector::connectionLost);
    connect(socket, &QAbstractSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) {
        // A refused datagram (ICMP) says nothing lasting about the next one.
        if (m_protocol == Protocol::Udp && m_socket->state() == QAbstractSocket::ConnectedState)
            return;
        connectionLost();
    });
    socket->connectToHost(m_host, m_port);
}

void RemoteCollector::connectionLost()
{
    if (m_retry.isActive() || !m_socket)
        return;
    // What the socket still held went down with the connection: counted like any dropped message.
    drop(quint64(m_inFlight.size()));
    m_inFlight.clear();
    m_bytesGiven = m_bytesWritten = 0;
    m_retry.start(m_delay);
    m_delay = std::min(m_delay * 2, m_backoff.max);
}

void RemoteCollector::pump()
{
    // A datagram socket reports bytes written from inside write(), which calls back in here.
    if (m_pumping || !isConnected())
        return;
    m_pumping = true;
    const auto done = qScopeGuard([this] { m_pumping = false; });
    // The notice of a gap waits for room like any message: written at once, a collector that does
    // not read would collect one more notice in the socket's buffer with every event dropped.
    if (m_socket->bytesToWrite() >= SocketBufferLimit)
        return;
    if (m_droppedUnreported > 0) {
        const quint64 dropped = std::exchange(m_droppedUnreported, 0);
        if (!writeMessage(m_droppedNotice(dropped), m_deliveredThrough)) {
            m_droppedUnreported += dropped;
            return;
        }
    }
    while (!m_queue.empty() && m_socket->bytesToWrite() < SocketBufferLimit) {
        Pending next = std::move(m_queue.front());
        m_queue.pop_front();
        if (!writeMessage(next.message, next.sequence)) {
            if (m_protocol == Protocol::Tcp) {
                m_queue.push_front(std::move(next)); // the connection is failing; it waits for the next
                return;
            }
            drop(1);
            m_deliveredThrough = std::max(m_deliveredThrough, next.sequence); // settled, if only as a loss
        }
    }
}

void RemoteCollector::written(qint64 bytes)
{
    m_bytesWritten += bytes;
    while (!m_inFlight.empty() && m_inFlight.front().end <= m_bytesWritten) {
        m_deliveredThrough = std::max(m_deliveredThrough, m_inFlight.front().sequence);
        m_inFlight.pop_front();
    }
    pump();
}

bool RemoteCollector::writeMessage(const QByteArray& message, quint64 sequence)
{
    const QByteArray bytes = m_protocol == Protocol::Tcp ? Rfc5424::octetCounted(message) : message;
    if (m_socket->write(bytes) != bytes.size())
        return false;
    if (m_protocol == Protocol::Udp) { // datagrams leave at once or not at all
        m_deliveredThrough = std::max(m_deliveredThrough, sequence);
        return true;
    }
    m_bytesGiven += bytes.size();
    m_inFlight.push_back({ m_bytesGiven, sequence });
    return true;
}

void RemoteCollector::drop(quint64 count)
{
    m_droppedTotal += count;
    m_droppedUnreported += count;
}
