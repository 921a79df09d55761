#pragma once

// A stand-in push service on loopback. Records each request as "POST /path", the headers a push
// service reads, a blank line and the body; answers each with the next status of its script (200
// once the script is used up), and never answers for a status of 0. A redirect (3xx) points to
// redirectTo. The body of each answer is empty, endless (as fast as the client reads; chunked or
// of a huge length), or 4,000 bytes trickled a byte at a time every trickleMs (TrickleAll: the
// status line and headers too); sent counts the bytes of all answers.
class LocalHttpServer : public QObject
{
public:
    enum class Body { Empty, Endless, EndlessChunked, Trickle, TrickleAll };

    LocalHttpServer()
    {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { read(socket); });
        });
    }
    QString url(const QString& path) const
    {
        return QString("http://127.0.0.1:%1").arg(m_server.serverPort()) + path;
    }

    QList<int> script;
    QByteArrayList requests;
    QString redirectTo;
    Body body = Body::Empty;
    int trickleMs = 50;
    qint64 sent = 0;

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
        const QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason(status)
            + (status / 100 == 3 ? "\r\nLocation: " + redirectTo.toUtf8() : QByteArray())
            + (body == Body::Empty                 ? "\r\nContent-Length: 0"
                    : body >= Body::Trickle        ? "\r\nContent-Length: 4000"
                    : body == Body::EndlessChunked ? "\r\nTransfer-Encoding: chunked"
                                                   : "\r\nContent-Length: 1000000000000")
            + "\r\n\r\n";
        if (body != Body::TrickleAll)
            sent += socket->write(head);
        if (body == Body::Endless || body == Body::EndlessChunked) {
            // Another block whenever the client has taken most of the last.
            const auto more = [this, socket] {
                if (socket->bytesToWrite() < 65536)
                    sent += socket->write(body == Body::Endless
                            ? QByteArray(65536, 'x')
                            : "10000\r\n" + QByteArray(65536, 'x') + "\r\n");
            };
            connect(socket, &QTcpSocket::bytesWritten, socket, more);
            more();
        } else if (body >= Body::Trickle) {
            auto* timer = new QTimer(socket);
            const QByteArray first = body == Body::TrickleAll ? head : QByteArray();
            connect(timer, &QTimer::timeout, socket, [this, socket, first] {
                sent += socket->write(sent < first.size() ? first.mid(sent, 1) : QByteArray("x"));
            });
            timer->start(trickleMs);
        }
    }
    static QByteArray reason(int status)
    {
        static const QHash<int, QByteArray> phrases { { 401, "Unauthorized" },
            { 500, "Internal Server Error" }, { 301, "Moved Permanently" }, { 302, "Found" },
            { 307, "Temporary Redirect" }, { 308, "Permanent Redirect" } };
        return phrases.value(status, "OK");
    }

    QTcpServer m_server;
    QHash<QTcpSocket*, QByteArray> m_pending;
};
