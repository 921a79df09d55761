#include "RemoteCollector.h"

#include "Rfc5424.h"

#include <QDeadlineTimer>
#include <QTcpSocket>
#include <QUdpSocket>

namespace {
// Enough for a burst to flow without letting the socket's own buffer grow without bound: the
// bounded queue is where messages wait.
constexpr qint64 SocketBufferLimit = 256 * 1024;
} // namespace

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
    connect(socket, &QAbstractSocket::bytesWritten, this, &RemoteCollector::pump);
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
    m_retry.start(m_delay);
    m_delay = std::min(m_delay * 2, m_backoff.max);
}

void RemoteCollector::pump()
{
    if (!isConnected())
        return;
    if (m_droppedUnreported > 0) {
        if (!writeMessage(m_droppedNotice(m_droppedUnreported)))
            return;
        m_droppedUnreported = 0;
    }
    while (!m_queue.empty() && m_socket->bytesToWrite() < SocketBufferLimit) {
        if (!writeMessage(m_queue.front().message)) {
            if (m_protocol == Protocol::Tcp)
                return; // the connection is failing; the message waits for the next one
            drop(1);
        }
        m_handedThrough = m_queue.front().sequence;
        m_queue.pop_front();
    }
    if (m_socket->bytesToWrite() == 0)
        m_deliveredThrough = m_handedThrough;
}

bool RemoteCollector::writeMessage(const QByteArray& message)
{
    const QByteArray bytes = m_protocol == Protocol::Tcp ? Rfc5424::octetCounted(message) : message;
    return m_socket->write(bytes) == bytes.size();
}

void RemoteCollector::drop(quint64 count)
{
    m_droppedTotal += count;
    m_droppedUnreported += count;
}
