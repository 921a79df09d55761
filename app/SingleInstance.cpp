#include "SingleInstance.h"

#include "PrivateFiles.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
constexpr int AnswerTimeoutMs = 2000;
// A start that connected and says nothing is dropped after this; at most MaxClients wait at once,
// the rest wait in the kernel's queue.
constexpr int ClientTimeoutMs = 2000;
constexpr int MaxClients = 4;
constexpr int Backlog = 8;
// Out of descriptors: how long to leave the queue alone before accepting again.
constexpr int AcceptRetryMs = 200;
// "show", or "show <token>" with the activation token a Wayland compositor gave the later start,
// which lets the first start's window take the focus from whatever has it.
const QByteArray ShowRequest = QByteArrayLiteral("show");
constexpr qsizetype MaxTokenLength = 256;
constexpr qsizetype MaxRequestLength = 4 + 1 + MaxTokenLength + 1;

// A token is passed on to the compositor through the environment: printable, without blanks.
bool isToken(const QByteArray& token)
{
    return token.size() <= MaxTokenLength
        && std::all_of(token.begin(), token.end(), [](char c) { return c > ' ' && c < 127; });
}

bool toAddress(const QString& path, sockaddr_un& address)
{
    const QByteArray name = QFile::encodeName(path);
    address = {};
    address.sun_family = AF_UNIX;
    if (name.isEmpty() || std::size_t(name.size()) >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, name.constData(), std::size_t(name.size()));
    return true;
}

uid_t peerUid(int fd)
{
    ucred peer {};
    socklen_t length = sizeof peer;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 ? peer.uid : uid_t(-1);
}

bool waitFor(int fd, short events, const QDeadlineTimer& deadline)
{
    pollfd ready { fd, events, 0 };
    int result = 0;
    while ((result = ::poll(&ready, 1, int(deadline.remainingTime()))) < 0 && errno == EINTR) { }
    return result == 1;
}

// A start that connected: it has a short while to say what it wants.
class Caller : public QObject
{
public:
    Caller(int socket, QObject* parent)
        : QObject(parent)
        , fd(socket)
        , readable(socket, QSocketNotifier::Read)
    {
    }
    ~Caller() override
    {
        readable.setEnabled(false);
        ::close(fd);
    }

    const int fd;
    QSocketNotifier readable;
    QByteArray received;
};

struct Descriptor
{
    int fd;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};
} // namespace

SingleInstance::SingleInstance(const QString& socketPath, QObject* parent)
    : QObject(parent)
    , m_socketPath(socketPath)
{
    m_incoming.setEnabled(false);
    connect(&m_incoming, &QSocketNotifier::activated, this, &SingleInstance::acceptPending);
    m_acceptRetry.setSingleShot(true);
    m_acceptRetry.setInterval(AcceptRetryMs);
    connect(
        &m_acceptRetry, &QTimer::timeout, this, [this] { m_incoming.setEnabled(m_clients < MaxClients); });
}

SingleInstance::~SingleInstance()
{
    if (m_listenFd < 0)
        return;
    m_incoming.setEnabled(false);
    ::close(m_listenFd);
    // Only the socket file this instance made: a later instance may have put its own there.
    struct stat status {};
    const QByteArray path = QFile::encodeName(m_socketPath);
    if (::lstat(path.constData(), &status) == 0 && status.st_dev == m_socketDevice
        && status.st_ino == m_socketInode)
        ::unlink(path.constData());
}

QString SingleInstance::defaultSocketPath()
{
    const QString name = QStringLiteral("sentrel.socket");
    sockaddr_un address {};
    for (const QString& folder :
        { qEnvironmentVariable("XDG_RUNTIME_DIR"), QStringLiteral("/run/user/%1").arg(::geteuid()) }) {
        const QString path = QDir(folder).filePath(name);
        if (QDir::isAbsolutePath(folder) && PrivateFiles::isPrivateFolder(folder) && toAddress(path, address))
            return path;
    }
    // No runtime folder (sudo's default environment, cron): a folder of the program's own.
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    const QString own = QDir(cache).filePath(QStringLiteral("sentrel"));
    const QString path = QDir(own).filePath(name);
    if (cache.isEmpty() || !toAddress(path, address) || !PrivateFiles::makePrivateFolder(own))
        return {};
    return path;
}

SingleInstance::Claim SingleInstance::claim(const QByteArray& activationToken)
{
    if (m_socketPath.isEmpty())
        m_socketPath = defaultSocketPath();
    if (m_socketPath.isEmpty())
        return alone(QStringLiteral("no folder private to this user for its socket"));
    // Twice: a start that began at the same moment may take the socket between asking and listening.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const QByteArray token = isToken(activationToken) ? activationToken : QByteArray();
        switch (askRunningInstance(ShowRequest + (token.isEmpty() ? "" : " " + token) + '\n')) {
        case Answer::Running:
            m_message = QStringLiteral("Sentrel is already running; its window was asked to come forward.");
            return Claim::Deferred;
        case Answer::OtherUser:
            return alone(QStringLiteral("%1 answers as another user").arg(m_socketPath));
        case Answer::Silent:
            return alone(QStringLiteral("%1 does not answer").arg(m_socketPath));
        case Answer::Stale:
            // Nobody listens on it: a run that crashed left it.
            ::unlink(QFile::encodeName(m_socketPath).constData());
            break;
        case Answer::Nobody:
            break;
        }
        if (listen())
            return Claim::First;
        if (errno != EADDRINUSE)
            break;
    }
    return alone(QStringLiteral("cannot listen on %1: %2")
                     .arg(m_socketPath, QString::fromLocal8Bit(std::strerror(errno))));
}

bool SingleInstance::isAnotherRunning()
{
    if (m_socketPath.isEmpty())
        m_socketPath = defaultSocketPath();
    return !m_socketPath.isEmpty() && askRunningInstance({}) == Answer::Running;
}

SingleInstance::Claim SingleInstance::alone(const QString& reason)
{
    m_message = QStringLiteral("Sentrel runs without its check for another running copy: ") + reason;
    return Claim::Alone;
}

SingleInstance::Answer SingleInstance::askRunningInstance(const QByteArray& request)
{
    sockaddr_un address {};
    if (!toAddress(m_socketPath, address))
        return Answer::Silent;
    const Descriptor socket { ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0) };
    if (socket.fd < 0)
        return Answer::Silent;
    const QDeadlineTimer deadline(AnswerTimeoutMs);
    // A full queue (the first instance is busy) refuses for the moment; that is no reason to
    // take its socket away.
    while (::connect(socket.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (errno == ENOENT)
            return Answer::Nobody;
        if (errno == ECONNREFUSED)
            return Answer::Stale;
        if ((errno != EAGAIN && errno != EINTR) || deadline.hasExpired())
            return Answer::Silent;
        QThread::msleep(20);
    }
    // Only the same user may tell this one to step aside.
    if (peerUid(socket.fd) != ::geteuid())
        return Answer::OtherUser;
    if (request.isEmpty())
        return Answer::Running; // closing at once asks nothing of it
    if (!waitFor(socket.fd, POLLOUT, deadline)
        || ::send(socket.fd, request.constData(), std::size_t(request.size()), MSG_NOSIGNAL)
            != request.size())
        return Answer::Silent;
    // The first instance reads the request and closes; wait so that it is not cut off mid-way.
    char rest[16];
    while (waitFor(socket.fd, POLLIN, deadline) && ::recv(socket.fd, rest, sizeof rest, 0) > 0) { }
    return Answer::Running;
}

bool SingleInstance::listen()
{
    sockaddr_un address {};
    toAddress(m_socketPath, address);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    struct stat status {};
    if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0
        || ::listen(fd, Backlog) != 0 || ::lstat(address.sun_path, &status) != 0) {
        const int error = errno;
        if (fd >= 0)
            ::close(fd);
        errno = error;
        return false;
    }
    m_listenFd = fd;
    m_socketDevice = status.st_dev;
    m_socketInode = status.st_ino;
    m_incoming.setSocket(fd);
    m_incoming.setEnabled(true);
    return true;
}

void SingleInstance::acceptPending()
{
    while (m_clients < MaxClients) {
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            serve(fd);
            continue;
        }
        if (errno == EINTR || errno == ECONNABORTED)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            // Out of descriptors or memory: try again later rather than spin on the queue.
            m_incoming.setEnabled(false);
            m_acceptRetry.start();
        }
        return;
    }
    // Enough starts are waiting to be heard; the rest wait in the queue until one leaves.
    m_incoming.setEnabled(false);
}

void SingleInstance::serve(int fd)
{
    if (peerUid(fd) != ::geteuid()) {
        ::close(fd);
        return;
    }
    ++m_clients;
    auto* caller = new Caller(fd, this);
    const auto drop = [this, caller] {
        if (!caller->readable.isEnabled())
            return; // already on its way out
        caller->readable.setEnabled(false);
        caller->deleteLater();
        --m_clients;
        if (!m_acceptRetry.isActive())
            m_incoming.setEnabled(true);
    };
    connect(&caller->readable, &QSocketNotifier::activated, caller, [this, caller, drop] {
        char buffer[64];
        const ssize_t n = ::recv(caller->fd, buffer, sizeof buffer, 0);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        if (n > 0)
            caller->received.append(buffer, n);
        const qsizetype end = caller->received.indexOf('\n');
        if (end >= 0 && end < MaxRequestLength) {
            const QByteArray line = caller->received.left(end);
            const QByteArray token = line.mid(ShowRequest.size() + 1);
            if (line == ShowRequest || (line.startsWith(ShowRequest + ' ') && isToken(token)))
                emit activationRequested(QString::fromLatin1(token));
        }
        if (n <= 0 || end >= 0 || caller->received.size() >= MaxRequestLength)
            drop();
    });
    QTimer::singleShot(ClientTimeoutMs, caller, drop);
}
