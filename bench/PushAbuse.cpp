// Sends one push, as the program does, to a plain server and then to hostile ones on loopback, and
// prints what each cost: two answering with an endless body, one of a huge length and one chunked
// (the growth of the peak RSS, how much they sent), and two trickling a byte at a time, the body of
// a short answer and the whole answer (how long they held the push in flight).
//   sentrel-pushbench [--seconds 40] [--trickle-interval 5]
// Each run ends after --seconds even if the push has not: the figure then says "still held".

#include "PushDelivery.h"
#include "StatusReporter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {
struct Quiet final : StatusReporter
{
    void addStatusLine(const QString& text) override { std::printf("  status line: %s\n", qPrintable(text)); }
    void setStatusText(const QString&) override { }
};

qint64 statusKb(const char* field)
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qsizetype(std::strlen(field))).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

// One connection at a time on a loopback port of its own, served from a thread so that its pace is
// its own and not the event loop's.
class HostileServer
{
public:
    enum class Kind { Plain, EndlessBody, EndlessChunked, Trickle, TrickleAll };

    HostileServer(Kind kind, std::chrono::milliseconds interval)
        : m_kind(kind)
        , m_interval(interval)
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
            || ::listen(m_listen, 8) != 0
            || ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            std::perror("listen");
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~HostileServer()
    {
        m_stop = true;
        ::shutdown(m_listen, SHUT_RDWR);
        m_thread.join();
        ::close(m_listen);
    }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1/topic").arg(m_port); }
    quint64 sent() const { return m_sent; }
    int connections() const { return m_connections; }
    // How long the first connection lasted, once it has ended; -1 before.
    qint64 firstHeldMs() const { return m_firstHeldMs; }

private:
    bool wait(int fd, short events, int ms)
    {
        pollfd ready { fd, events, 0 };
        return ::poll(&ready, 1, ms) == 1;
    }

    void serve()
    {
        while (!m_stop) {
            if (!wait(m_listen, POLLIN, 100))
                continue;
            const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            ++m_connections;
            QElapsedTimer held;
            held.start();
            talk(fd);
            ::close(fd);
            if (m_firstHeldMs < 0)
                m_firstHeldMs = held.elapsed();
        }
    }

    // Until the client goes away (or the bench ends).
    void talk(int fd)
    {
        char request[4096];
        if (!wait(fd, POLLIN, 5000) || ::recv(fd, request, sizeof request, 0) <= 0)
            return;
        const QByteArray answer = "HTTP/1.1 200 OK\r\n"
            + QByteArray(m_kind == Kind::Plain    ? "Content-Length: 0"
                    : m_kind >= Kind::Trickle     ? "Content-Length: 4000"
                    : m_kind == Kind::EndlessBody ? "Content-Length: 1000000000000"
                                                  : "Transfer-Encoding: chunked")
            + "\r\n\r\n";
        const QByteArray block = m_kind == Kind::EndlessChunked
            ? "10000\r\n" + QByteArray(65536, 'x') + "\r\n"
            : QByteArray(65536, 'x');
        qsizetype at = 0;
        while (!m_stop) {
            if (wait(fd, POLLIN, 0)) { // the client closed or reset the connection
                if (::recv(fd, request, sizeof request, MSG_DONTWAIT) <= 0)
                    return;
            }
            const bool head = at < answer.size();
            if (!head && m_kind == Kind::Plain)
                return;
            const char* data = head ? answer.constData() + at : block.constData();
            const bool trickle = m_kind == Kind::TrickleAll || (m_kind == Kind::Trickle && !head);
            const std::size_t size = trickle ? 1 : head ? std::size_t(answer.size() - at) : block.size();
            if (!wait(fd, POLLOUT, 100))
                continue;
            const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0 && errno != EAGAIN)
                return;
            if (n > 0) {
                m_sent += quint64(n);
                at += n;
            }
            if (trickle)
                for (auto until = std::chrono::steady_clock::now() + m_interval;
                     !m_stop && std::chrono::steady_clock::now() < until;)
                    if (wait(fd, POLLIN, 100) && ::recv(fd, request, sizeof request, MSG_DONTWAIT) <= 0)
                        return;
        }
    }

    Kind m_kind;
    std::chrono::milliseconds m_interval;
    int m_listen = -1;
    quint16 m_port = 0;
    std::thread m_thread;
    std::atomic<bool> m_stop { false };
    std::atomic<quint64> m_sent { 0 };
    std::atomic<int> m_connections { 0 };
    std::atomic<qint64> m_firstHeldMs { -1 };
};

struct Outcome
{
    bool done = false;
    qint64 ms = 0;
};

// One push to the server with the program's own timing; ends when the push is done or after limit.
Outcome push(HostileServer& server, std::chrono::seconds limit, const std::function<void()>& sample)
{
    Quiet status;
    PushDelivery delivery(status);
    delivery.configure({ Settings::Push::Service::Ntfy, server.url(), QStringLiteral("bench-token") });
    PushMessage message;
    message.title = QStringLiteral("Intruder Detected");
    message.text = QStringLiteral("IP: 192.0.2.7 Port: 23");
    QElapsedTimer elapsed;
    elapsed.start();
    delivery.send(message);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        sample();
        if (delivery.queued() == 0 || elapsed.elapsed() > std::chrono::milliseconds(limit).count())
            QCoreApplication::quit();
    });
    poll.start(20);
    QCoreApplication::exec();
    return { delivery.queued() == 0, elapsed.elapsed() };
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const auto option = [&](const char* name, int fallback) {
        const qsizetype at = arguments.indexOf(QLatin1String(name));
        return at >= 0 ? arguments.value(at + 1).toInt() : fallback;
    };
    const std::chrono::seconds limit(option("--seconds", 40));
    const std::chrono::seconds interval(option("--trickle-interval", 5));
    // Beyond this the bench stops the endless run itself: the figure has been made.
    constexpr qint64 RssCapKb = 4 * 1024 * 1024;

    {
        // First a push to a plain server, so that what the network code costs once is not counted.
        HostileServer plain(HostileServer::Kind::Plain, 0ms);
        push(plain, limit, [] {});
    }
    for (const auto kind : { HostileServer::Kind::EndlessBody, HostileServer::Kind::EndlessChunked }) {
        HostileServer endless(kind, 0ms);
        const qint64 before = statusKb("VmHWM:");
        qint64 peak = before;
        const Outcome outcome = push(endless, limit, [&] {
            peak = std::max(peak, statusKb("VmHWM:"));
            if (peak > RssCapKb)
                QCoreApplication::quit();
        });
        std::printf(
            "Endless body (%s): peak RSS %.1f MB -> %.1f MB (+%.1f MB) after %.1f s, server sent %.1f MB in "
            "%d connection(s); push %s\n",
            kind == HostileServer::Kind::EndlessBody ? "Content-Length" : "chunked", before / 1024.0,
            peak / 1024.0, (peak - before) / 1024.0, outcome.ms / 1000.0, endless.sent() / 1048576.0,
            endless.connections(),
            outcome.done          ? "done"
                : peak > RssCapKb ? "still running, stopped at the bench's 4 GB cap"
                                  : "still running");
    }
    for (const auto kind : { HostileServer::Kind::Trickle, HostileServer::Kind::TrickleAll }) {
        HostileServer trickle(kind, interval);
        const Outcome outcome = push(trickle, limit, [] {});
        const qint64 held = trickle.firstHeldMs();
        std::printf(
            "Trickle (%s, 1 byte every %lld s): the first try held the push %s; push %s after %.1f s, %d "
            "connection(s), peak RSS %.1f MB\n",
            kind == HostileServer::Kind::Trickle ? "the body" : "the whole answer", qint64(interval.count()),
            held < 0 ? "for the whole run (still held)" : qPrintable(QString("%1 s").arg(held / 1000.0)),
            outcome.done ? "done" : "still in flight", outcome.ms / 1000.0, trickle.connections(),
            statusKb("VmHWM:") / 1024.0);
    }
    return 0;
}
