#include "SingleInstance.h"

#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>

namespace {
constexpr int AnswerTimeoutMs = 2000;
const QByteArray ShowRequest = QByteArrayLiteral("show\n");
} // namespace

SingleInstance::SingleInstance(const QString& socketPath, QObject* parent)
    : QObject(parent)
    , m_socketPath(socketPath.isEmpty() ? defaultSocketPath() : socketPath)
{
    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* peer = m_server.nextPendingConnection()) {
            connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
            connect(peer, &QLocalSocket::readyRead, this, [this, peer] {
                if (peer->readAll().contains(ShowRequest))
                    emit activationRequested();
                peer->disconnectFromServer();
            });
        }
    });
}

QString SingleInstance::defaultSocketPath()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return QDir(folder).filePath(QStringLiteral("sentrel.socket"));
}

bool SingleInstance::claim()
{
    if (askRunningInstance())
        return false;
    // Nobody answered: a socket file left there is from a run that crashed.
    QLocalServer::removeServer(m_socketPath);
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    m_server.listen(m_socketPath); // without the socket the program still runs, alone or not
    return true;
}

bool SingleInstance::askRunningInstance()
{
    QLocalSocket socket;
    socket.connectToServer(m_socketPath);
    if (!socket.waitForConnected(AnswerTimeoutMs))
        return false;
    socket.write(ShowRequest);
    socket.waitForBytesWritten(AnswerTimeoutMs);
    // The first instance reads the request and closes; wait so it is not cut off mid-way.
    socket.waitForDisconnected(AnswerTimeoutMs);
    return true;
}
