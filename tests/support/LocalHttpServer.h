#pragma once

#include <QHash>
#include <QTcpServer>
#include <QTcpSocket>

#include <vector>

// A stand-in push service on loopback: records every request and answers each with the next
// status of its script (200 once the script is used up); a status of 0 never answers.
class LocalHttpServer : public QObject
{
public:
    struct Request
    {
        QByteArray method, path, body;
        QHash<QByteArray, QByteArray> headers; // names in lower case
    };

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
        return QString("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path);
    }

    QList<int> script;
    std::vector<Request> requests;

private:
    void read(QTcpSocket* socket)
    {
        QByteArray& data = m_pending[socket];
        data += socket->readAll();
        for (qsizetype end; (end = data.indexOf("\r\n\r\n")) >= 0;) {
            Request request;
            const QList<QByteArray> lines = data.left(end).split('\n');
            const QList<QByteArray> first = lines[0].trimmed().split(' ');
            request.method = first.value(0), request.path = first.value(1);
            for (const QByteArray& line : lines.mid(1))
                request.headers[line.left(line.indexOf(':')).toLower()]
                    = line.mid(line.indexOf(':') + 1).trimmed();
            const qsizetype length = request.headers.value("content-length").toLongLong();
            if (data.size() < end + 4 + length)
                return;
            request.body = data.mid(end + 4, length);
            data.remove(0, end + 4 + length);
            requests.push_back(request);
            const int status = script.isEmpty() ? 200 : script.takeFirst();
            if (status)
                socket->write(QByteArray("HTTP/1.1 ") + QByteArray::number(status)
                    + (status == 200        ? " OK"
                            : status == 401 ? " Unauthorized"
                                            : " Internal Server Error")
                    + "\r\nContent-Length: 0\r\n\r\n");
        }
    }

    QTcpServer m_server;
    QHash<QTcpSocket*, QByteArray> m_pending;
};
