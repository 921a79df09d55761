#include "HelperPortBinder.h"

#include <QDir>
#include <QProcess>
#include <QtTest>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

// The bind helper and its client over a real socket pair. The helper under test is built with
// every port shifted by SENTREL_BIND_TEST_OFFSET, so it binds without privileges; port p of a
// request is port p + offset on the machine. Its port list is SENTREL_BIND_LIST_DIR/bind-ports,
// which the tests write; it may belong to the user running them.
namespace {
constexpr int Offset = SENTREL_BIND_TEST_OFFSET;
const QString ListDir = SENTREL_BIND_LIST_DIR;
const QString ListFile = ListDir + "/bind-ports";

// The helper's list and its folder, written afresh with the given modes.
bool writeList(const QByteArray& text, mode_t mode = 0644, mode_t folderMode = 0755)
{
    QFile::remove(ListFile);
    QFile list(ListFile);
    return QDir().mkpath(ListDir) && ::chmod(QFile::encodeName(ListDir), folderMode) == 0
        && list.open(QIODevice::WriteOnly) && list.write(text) == text.size()
        && ::chmod(QFile::encodeName(ListFile), mode) == 0;
}

bool isListening(int port)
{
    const int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0), on = 1, off = 0;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    sockaddr_in6 any {};
    any.sin6_family = AF_INET6;
    any.sin6_port = htons(uint16_t(port));
    const bool inUse
        = ::bind(fd, reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0 && errno == EADDRINUSE;
    ::close(fd);
    return inUse;
}

// Request ports (1..1023) whose shifted ports nothing holds; other test runs may hold some.
std::vector<int> freeRequestPorts(int count)
{
    std::vector<int> ports;
    for (int p = 1 + int(::getpid() % 900); int(ports.size()) < count; p = p % 1023 + 1) {
        if (!isListening(p + Offset))
            ports.push_back(p);
    }
    return ports;
}

QByteArray request(const std::vector<int>& ports, int count = -1)
{
    QByteArray r("SB\x01", 3);
    r += char(count < 0 ? int(ports.size()) : count);
    for (const int p : ports)
        r += char(p >> 8 & 0xff), r += char(p & 0xff);
    return r;
}

int openFdCount()
{
    return int(QDir("/proc/self/fd").entryList(QDir::Files | QDir::System).size());
}

// How a run's standard descriptors are set up: the socket pair as standard input, or wrong.
enum class Stdio { Socket, StdinAPipe, StdoutClosed, RequestCarriesADescriptor };

struct HelperRun
{
    int exitCode = -1;
    QByteArray reply;
    int fdsReceived = 0;
    QByteArray errors;
};

// One run of the helper in an empty environment: the request goes over a socket pair on its
// standard input (a null request: the sending side is shut), the reply and the sockets it carries
// come back the same way; the sockets are counted and closed.
HelperRun runHelper(const QByteArray& send, const QStringList& args = {}, Stdio stdio = Stdio::Socket)
{
    int pair[2] = { -1, -1 };
    ::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair);
    QProcess helper;
    helper.setProcessEnvironment(QProcessEnvironment());
    helper.setChildProcessModifier([stdio, channel = pair[1]] {
        if (stdio != Stdio::StdinAPipe)
            ::dup2(channel, 0);
        if (stdio == Stdio::StdoutClosed)
            ::close(1);
    });
    helper.start(SENTREL_BIND_HELPER, args);
    helper.waitForStarted();
    ::close(pair[1]);

    // A request carries at most one descriptor out, the reply up to 64 back.
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * 64)] = {};
    char buffer[512];
    iovec part { const_cast<char*>(send.constData()), std::size_t(send.size()) };
    msghdr message {};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    const int extra = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (stdio == Stdio::RequestCarriesADescriptor) {
        message.msg_control = control;
        message.msg_controllen = CMSG_SPACE(sizeof(int));
        *CMSG_FIRSTHDR(&message) = { CMSG_LEN(sizeof(int)), SOL_SOCKET, SCM_RIGHTS };
        std::memcpy(CMSG_DATA(CMSG_FIRSTHDR(&message)), &extra, sizeof extra);
    }
    send.isNull() ? ::shutdown(pair[0], SHUT_WR) : int(::sendmsg(pair[0], &message, MSG_NOSIGNAL));
    ::close(extra);

    HelperRun run;
    pollfd ready { pair[0], POLLIN, 0 };
    part = { buffer, sizeof buffer };
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t size = ::poll(&ready, 1, 10000) == 1 ? ::recvmsg(pair[0], &message, MSG_CMSG_CLOEXEC) : -1;
    run.reply = QByteArray(buffer, int(std::max<ssize_t>(size, 0)));
    for (cmsghdr* h = size > 0 ? CMSG_FIRSTHDR(&message) : nullptr; h; h = CMSG_NXTHDR(&message, h)) {
        for (std::size_t i = 0; i < (h->cmsg_len - CMSG_LEN(0)) / sizeof(int); ++i, ++run.fdsReceived) {
            int fd;
            std::memcpy(&fd, CMSG_DATA(h) + i * sizeof(int), sizeof fd);
            ::close(fd);
        }
    }
    ::close(pair[0]);
    if (helper.waitForFinished(10000) && helper.exitStatus() == QProcess::NormalExit)
        run.exitCode = helper.exitCode();
    run.errors = helper.readAllStandardError();
    return run;
}

QString outcomes(const std::vector<PortBinder::Result>& results)
{
    static const char* const names[] = { "Bound", "InUse", "NotPermitted", "Failed" };
    QStringList out;
    for (const PortBinder::Result& r : results)
        out << names[int(r.outcome)];
    return out.join(' ');
}

// True when the descriptor is a listening socket on the port.
bool listensOn(int fd, int port)
{
    int listening = 0;
    socklen_t size = sizeof listening;
    sockaddr_in6 local {};
    socklen_t localSize = sizeof local;
    return ::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) == 0 && listening
        && ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localSize) == 0
        && ntohs(local.sin6_port) == port;
}
} // namespace

Q_DECLARE_METATYPE(Stdio)

class TestHelperPortBinder : public QObject
{
    Q_OBJECT

private slots:
    // Every request port listed, unless a test says otherwise.
    void init()
    {
        QByteArray all = "# every port\n";
        for (int p = 1; p <= 1023; ++p)
            all += QByteArray::number(p) + '\n';
        QVERIFY(writeList(all));
    }

    // Through the client: a port twice or held elsewhere is in use; a list beyond one run's 64
    // ports is split (70 times one port: 64 + 6); a port outside 1..1023 fails the list without a
    // run; a helper that is missing or ends without a reply fails every port; no socket leaks.
    void theClientGetsListeningSocketsOrFailures()
    {
        const std::vector<int> ports = freeRequestPorts(3);
        const int fdsBefore = openFdCount();
        const int held = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0), on = 1;
        ::setsockopt(held, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in at {};
        at.sin_family = AF_INET;
        at.sin_port = htons(uint16_t(ports[2] + Offset));
        QVERIFY(
            ::bind(held, reinterpret_cast<const sockaddr*>(&at), sizeof at) == 0 && ::listen(held, 1) == 0);
        HelperPortBinder binder(SENTREL_BIND_HELPER);
        std::vector<PortBinder::Result> results
            = binder.bindPorts({ ports[0], ports[1], ports[0], ports[2] });
        ::close(held);
        QCOMPARE(outcomes(results), "Bound Bound InUse InUse");
        for (int i : { 0, 1 }) {
            const int fd = results[std::size_t(i)].fd;
            QVERIFY(fd >= 0 && (::fcntl(fd, F_GETFL) & O_NONBLOCK) && (::fcntl(fd, F_GETFD) & FD_CLOEXEC));
            QVERIFY(listensOn(fd, ports[std::size_t(i)] + Offset));
            ::close(fd);
        }
        results = binder.bindPorts(std::vector<int>(70, ports[0]));
        QCOMPARE(outcomes(results), "Bound" + QString(" InUse").repeated(69));
        QVERIFY(std::all_of(results.begin() + 1, results.end(), [](const auto& r) { return r.fd < 0; }));
        ::close(results[0].fd);
        for (const int bad : { 0, 1024, 65536, -21 })
            QCOMPARE(outcomes(binder.bindPorts({ ports[0], bad })), "Failed Failed");
        for (const char* helper : { "/nonexistent/sentrel-bind", "/bin/false", "" })
            QCOMPARE(outcomes(HelperPortBinder(helper, 2000).bindPorts({ 21, 23 })), "Failed Failed");
        QCOMPARE(openFdCount(), fdsBefore);
        QVERIFY(!isListening(ports[0] + Offset) && !isListening(ports[1] + Offset));
    }

    // The helper itself, run by hand with good and bad requests and standard descriptors; the
    // parser's refusals one by one are the fuzz corpus's to replay.
    void requestsAreServedOrRefused_data()
    {
        const int p = freeRequestPorts(1)[0];
        QTest::addColumn<QByteArray>("send");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<Stdio>("stdio");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<int>("fds");
        QTest::addColumn<QString>("error");
        QTest::addColumn<int>("port");
        auto row = [&](const char* name, const QByteArray& send, int code, int fds, const QString& error,
                       const QStringList& args = {}, Stdio stdio = Stdio::Socket) {
            QTest::newRow(name) << send << args << stdio << code << fds << error << p;
        };
        const QByteArray valid = request({ p });
        row("two ports, same one twice", request({ p, p }), 0, 1, "");
        row("wrong magic", "XB" + valid.mid(2), 65, 0, "not a request of this helper's protocol version");
        row("port 1024", request({ p, 1024 }), 65, 0, "from 1 to 1023");
        row("oversized", valid + QByteArray(300, '\0'), 65, 0, "too large");
        row("no request at all", QByteArray(), 66, 0, "no request");
        row("an argument", valid, 64, 0, "takes no arguments", { "--port=21" });
        row("standard input a pipe", valid, 71, 0, "", {}, Stdio::StdinAPipe);
        row("standard output closed", valid, 71, 0, "", {}, Stdio::StdoutClosed);
        row("a descriptor sent along", valid, 65, 0, "carrying descriptors", {},
            Stdio::RequestCarriesADescriptor);
    }
    void requestsAreServedOrRefused()
    {
        QFETCH(QByteArray, send);
        QFETCH(QStringList, args);
        QFETCH(Stdio, stdio);
        QFETCH(int, exitCode);
        QFETCH(int, fds);
        QFETCH(QString, error);
        QFETCH(int, port);
        const HelperRun run = runHelper(send, args, stdio);
        QCOMPARE(run.exitCode, exitCode);
        QCOMPARE(run.fdsReceived, fds);
        QVERIFY2(run.errors.contains(error.toUtf8()), run.errors.constData());
        QCOMPARE(run.reply.isEmpty(), fds == 0);
        if (fds > 0) // the second of the same port is in use
            QCOMPARE(run.reply.mid(4).toHex(),
                request({ port, port }).mid(4, 2).toHex() + "00" + request({ port }).mid(4, 2).toHex()
                    + "01");
        QVERIFY(!isListening(port + Offset));
    }

    // Only listed ports are bound, and only from a list that root alone could have written; any
    // doubt about the list allows nothing. Per port of the reply: 00 Bound, 02 NotPermitted.
    void thePortListDecides_data()
    {
        QTest::addColumn<QByteArray>("list"); // %1: the first port asked for; the second is unlisted
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("folderMode");
        QTest::addColumn<QString>("special");
        QTest::addColumn<QString>("error");
        auto row = [](const char* name, const QByteArray& list, const QString& error, int mode = 0644,
                       int folderMode = 0755, const QString& special = {}) {
            QTest::newRow(name) << list << mode << folderMode << special << error;
        };
        row("listed or not", "# 1 2 3\n\t%1#4\r\n", "not on the port list: %2");
        row("the group may write it", "%1", "is not a file of root's", 0664);
        row("anyone may write its folder", "%1", "in a folder others may write", 0644, 0777);
        row("someone else's", "%1", "is not a file of root's", 0644, 0755, "chown");
        row("a link to a good list", "%1", "cannot be opened", 0644, 0755, "link");
        row("missing", "", "is missing", 0644, 0755, "remove");
        row("a typo", "%1 2x", "holds something other");
        row("port 1024", "%1 1024", "holds something other");
        row("too long", "%1" + QByteArray(16384, ' '), "holds something other");
    }
    void thePortListDecides()
    {
        QFETCH(QByteArray, list);
        QFETCH(int, mode);
        QFETCH(int, folderMode);
        QFETCH(QString, special);
        QFETCH(QString, error);
        if (special == u"chown" && ::getuid() != 0)
            QSKIP("giving the list to another user needs root");
        const std::vector<int> ports = freeRequestPorts(2);
        QVERIFY(
            writeList(list.replace("%1", QByteArray::number(ports[0])), mode_t(mode), mode_t(folderMode)));
        if (special == u"chown")
            QCOMPARE(::chown(QFile::encodeName(ListFile), 65534, 65534), 0);
        if (special == u"link")
            QVERIFY(QFile::rename(ListFile, ListFile + ".real") && QFile::link(ListFile + ".real", ListFile));
        if (special == u"remove")
            QVERIFY(QFile::remove(ListFile));
        const HelperRun run = runHelper(request(ports));
        QFile::remove(ListFile + ".real");
        const bool listed = error.startsWith("not on");
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.reply.mid(4).toHex(),
            request(ports).mid(4, 2).toHex() + (listed ? "00" : "02") + request(ports).mid(6, 2).toHex()
                + "02");
        QCOMPARE(run.fdsReceived, listed ? 1 : 0);
        QVERIFY2(run.errors.contains(error.replace("%2", QString::number(ports[1])).toUtf8()),
            run.errors.constData());
        QVERIFY(!isListening(ports[0] + Offset));
    }
};

QTEST_GUILESS_MAIN(TestHelperPortBinder)
#include "tst_HelperPortBinder.moc"
