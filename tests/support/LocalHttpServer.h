#pragma once

// A stand-in push service on loopback. Records each request as "POST /path", the headers a push
// service reads, a blank line and the body; answers each with the next status of its script (200
// once the script is used up), and never answers for a status of 0.
class LocalHttpServer : public QObject
{
public:
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

private:
    void read(QTcpSocket* socket)
    {
        static const QHash<int, QByteArray> reasons { { 401, "Unauthorized" },
            { 500, "Internal Server Error" } };
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
                socket->write("HTTP/1.1 " + QByteArray::number(status) + ' ' + reasons.value(status, "OK")
                    + "\r\nContent-Length: 0\r\n\r\n");
        }
    }

    QTcpServer m_server;
    QHash<QTcpSocket*, QByteArray> m_pending;
};
