#pragma once

// A stand-in push service on loopback. Records each request as "POST /path", the headers a push
// service reads, a blank line and the body; answers each with the next status of its script (200
// once the script is used up), and never answers for a status of 0. A redirect (3xx) points to
// redirectTo. The body of each answer is empty, endless (as fast as the client reads), or trickled
// a byte every 50 ms (TrickleAll: the status line and headers too).
class LocalHttpServer : public QObject
{
public:
    enum class Body { Empty, Endless, Trickle, TrickleAll };

    LocalHttpServer()
    {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { read(socket); });
        });
    }
    void close() { m_server.close(); } // nobody listening
    QString url(const QString& path) const
    {
        return QString("http://127.0.0.1:%1").arg(m_server.serverPort()) + path;
    }

    QList<int> script;
    QByteArrayList requests;
    QString redirectTo;
    Body body = Body::Empty;

private:
    void read(QTcpSocket* socket)
    {
        QByteArray& data = m_pending[socket] += socket->readAll();
        for (qsizetype end; (end = data.indexOf("\r\n\r\n")) >= 0;) {
            QHash<QByteArray, QByteArray> headers;
            for (const QByteArray& line : data.left(end).split('\n'))
                headers[line.left(line.indexOf(':'))] = line.mid(line.indexOf(':') + 2).trimmed();
            const qsizetype length = headers.value("Content-Length").toLongLong();
            if (data.size() < end + 4 + length)
                return;
            QByteArray request = data.left(data.indexOf(" HTTP/")) + '\n';
            for (const char* name : { "Title", "Priority", "Authorization", "X-Gotify-Key", "Content-Type" })
                request += headers.contains(name) ? name + (": " + headers[name]) + '\n' : QByteArray();
            requests << request + '\n' + data.mid(end + 4, length);
            data.remove(0, end + 4 + length);
            if (const int status = script.isEmpty() ? 200 : script.takeFirst())
                answer(socket, status);
        }
    }

    void answer(QTcpSocket* socket, int status)
    {
        static const QHash<int, QByteArray> reasons { { 401, "Unauthorized" },
            { 500, "Internal Server Error" } };
        const QByteArray length = body == Body::Endless ? "1000000000000"
            : body == Body::Empty                       ? "0"
                                                        : "4000";
        QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasons.value(status, "OK")
            + (status / 100 == 3 ? "\r\nLocation: " + redirectTo.toUtf8() : QByteArray())
            + "\r\nContent-Length: " + length + "\r\n\r\n";
        if (body != Body::TrickleAll)
            socket->write(std::exchange(head, {}));
        if (body == Body::Endless) {
            // Another block whenever the client has taken most of the last.
            const auto more = [socket] {
                if (socket->bytesToWrite() < 65536)
                    socket->write(QByteArray(65536, 'x'));
            };
            connect(socket, &QTcpSocket::bytesWritten, socket, more);
            more();
        } else if (body != Body::Empty) {
            auto* timer = new QTimer(socket);
            connect(timer, &QTimer::timeout, socket, [socket, left = head + QByteArray(4000, 'x')]() mutable {
                socket->write(left.left(1));
                left.remove(0, 1);
            });
            timer->start(50);
        }
    }

    QTcpServer m_server;
    QHash<QTcpSocket*, QByteArray> m_pending;
};
