#include "HelperPortBinder.h"
#include "Loopback.h"
#include "TestFiles.h"

#include <fcntl.h>
#include <sys/stat.h>

// The bind helper, built with every port shifted by SENTREL_BIND_TEST_OFFSET so it binds unprivileged,
// and reading its list from SENTREL_BIND_LIST_DIR.
namespace {
constexpr int Offset = SENTREL_BIND_TEST_OFFSET;
const QString ListDir = SENTREL_BIND_LIST_DIR;
const QString ListFile = ListDir + "/bind-ports";

bool writeList(const QByteArray& text, mode_t mode = 0644, mode_t folderMode = 0755)
{
    QFile::remove(ListFile);
    return QDir().mkpath(ListDir) && ::chmod(QFile::encodeName(ListDir), folderMode) == 0
        && writeFile(ListFile, text) && ::chmod(QFile::encodeName(ListFile), mode) == 0;
}

// Request ports (1..1023) whose shifted ports nothing holds; other test runs may hold some.
std::vector<int> freeRequestPorts(int count)
{
    std::vector<int> ports;
    for (int p = 1 + int(::getpid() % 900); int(ports.size()) < count; p = p % 1023 + 1)
        if (!Loopback::isListening(p + Offset))
            ports.push_back(p);
    return ports;
}

QByteArray request(const std::vector<int>& ports)
{
    QByteArray r("SB\x01", 3);
    r += char(ports.size());
    for (const int p : ports)
        r += char(p >> 8 & 0xff), r += char(p & 0xff);
    return r;
}

enum class Stdio { Socket, StdinAPipe, StdinAStream, StdoutClosed, SendsADescriptor, CapabilitiesRead };

// One run in an empty environment, the request (null: the sending side shut) on standard input:
// "[holds <permitted set>, ]exit <code>[, reply <hex after the header>, <n> sockets]".
QString runHelper(QByteArray* errors, const QByteArray& send, const QStringList& args, Stdio stdio)
{
    int pair[2] = { -1, -1 };
    ::socketpair(AF_UNIX, (stdio == Stdio::StdinAStream ? SOCK_STREAM : SOCK_SEQPACKET) | SOCK_CLOEXEC, 0, pair);
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
    QByteArray held;
    QFile status(QString("/proc/%1/status").arg(helper.processId()));
    for (QDeadlineTimer end(5000); stdio == Stdio::CapabilitiesRead && held != "0000000000000400" && !end.hasExpired();) {
        held = status.open(QIODevice::ReadOnly) ? status.readAll() : QByteArray();
        held = held.mid(held.indexOf("CapPrm:") + 7, 17).trimmed();
        status.close();
    }

    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * 64)] = {}; // a reply carries up to 64
    char buffer[512];
    iovec part { const_cast<char*>(send.constData()), std::size_t(send.size()) };
    msghdr message { nullptr, 0, &part, 1, nullptr, 0, 0 };
    const int extra = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (stdio == Stdio::SendsADescriptor) {
        message.msg_control = control;
        message.msg_controllen = CMSG_SPACE(sizeof(int));
        *CMSG_FIRSTHDR(&message) = { CMSG_LEN(sizeof(int)), SOL_SOCKET, SCM_RIGHTS };
        std::memcpy(CMSG_DATA(CMSG_FIRSTHDR(&message)), &extra, sizeof extra);
    }
    send.isNull() ? ::shutdown(pair[0], SHUT_WR) : int(::sendmsg(pair[0], &message, MSG_NOSIGNAL));
    ::close(extra);

    int fds = 0;
    pollfd ready { pair[0], POLLIN, 0 };
    part = { buffer, sizeof buffer };
    message.msg_control = control, message.msg_controllen = sizeof control;
    const ssize_t size = ::poll(&ready, 1, 10000) == 1 ? ::recvmsg(pair[0], &message, MSG_CMSG_CLOEXEC) : -1;
    for (cmsghdr* h = size > 0 ? CMSG_FIRSTHDR(&message) : nullptr; h; h = CMSG_NXTHDR(&message, h))
        for (std::size_t i = 0; i < (h->cmsg_len - CMSG_LEN(0)) / sizeof(int); ++i, ++fds)
            ::close(reinterpret_cast<const int*>(CMSG_DATA(h))[i]);
    ::close(pair[0]);
    const bool ended = helper.waitForFinished(10000) && helper.exitStatus() == QProcess::NormalExit;
    *errors = helper.readAllStandardError();
    const QString reply = size > 0
        ? QString(", reply %1, %2 sockets").arg(QByteArray(buffer + 4, int(size) - 4).toHex()).arg(fds)
        : "";
    return (held.isEmpty() ? "" : "holds " + held + ", ") + QString("exit %1").arg(ended ? helper.exitCode() : -1) + reply;
}

// A served run: each port with its outcome ("00" bound, "01" in use, "02" not permitted).
QString servedWith(const std::vector<int>& ports, const QList<QByteArray>& outcomes)
{
    QByteArray hex;
    for (std::size_t i = 0; i < ports.size(); ++i)
        hex += request({ ports[i] }).mid(4).toHex() + outcomes[qsizetype(i)];
    return QString("exit 0, reply %1, %2 sockets").arg(hex).arg(outcomes.count("00"));
}

QString outcomes(const std::vector<PortBinder::Result>& results)
{
    QStringList out;
    for (const PortBinder::Result& r : results)
        out << QStringList { "Bound", "InUse", "NotPermitted", "Failed" }.value(int(r.outcome));
    return out.join(' ');
}

struct Run
{
    QByteArray send;
    QString outcome; // as runHelper sums it up; none: both ports sent, each refused as not permitted
    QByteArray error = {};
    QStringList args = {};
    Stdio stdio = Stdio::Socket;
    QByteArray list = {}; // empty: every request port
    mode_t mode = 0644, folderMode = 0755;
    QString special = {};
};
} // namespace

class TestHelperPortBinder : public QObject
{
    Q_OBJECT

private slots:
    // Through the client, TCP and UDP: a port twice or held elsewhere is in use; over 64 ports are split;
    // a port outside 1..1023 or a helper missing or silent fails every port; nothing leaks.
    void theClientGetsListeningSocketsOrFailures()
    {
        const std::vector<int> ports = freeRequestPorts(3);
        QVERIFY(writeList(m_allPorts));
        const auto openFds = [] { return QDir("/proc/self/fd").entryList(QDir::Files | QDir::System); };
        const qsizetype fdsBefore = openFds().size();
        QTcpServer held;
        QVERIFY(held.listen(QHostAddress::AnyIPv4, quint16(ports[2] + Offset)));
        HelperPortBinder binder(SENTREL_BIND_HELPER);
        std::vector<PortBinder::Result> results = binder.bindPorts({ ports[0], ports[1], ports[0], ports[2] });
        held.close();
        QCOMPARE(outcomes(results), "Bound Bound InUse InUse");
        const auto ready = [](int fd, int type, int port) {
            int value = 0, listening = 0;
            socklen_t size = sizeof value;
            return fd >= 0 && (::fcntl(fd, F_GETFL) & O_NONBLOCK) && (::fcntl(fd, F_GETFD) & FD_CLOEXEC)
                && ::getsockopt(fd, SOL_SOCKET, SO_TYPE, &value, &size) == 0 && value == type
                && ::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) == 0
                && listening == (type == SOCK_STREAM) && Loopback::localPort(fd) == port + Offset
                && ::close(fd) == 0;
        };
        QVERIFY(ready(results[0].fd, SOCK_STREAM, ports[0]) && ready(results[1].fd, SOCK_STREAM, ports[1]));
        results = binder.bindPorts(std::vector<int>(70, ports[0]));
        QCOMPARE(outcomes(results), "Bound" + QString(" InUse").repeated(69));
        ::close(results[0].fd);
        const auto udp = binder.bindPorts({ ports[0], ports[0] }, PortBinder::Protocol::Udp);
        QCOMPARE(outcomes(udp), "Bound InUse");
        QVERIFY(ready(udp[0].fd, SOCK_DGRAM, ports[0]));
        for (const int bad : { 0, 1024, 65536, -21 })
            QCOMPARE(outcomes(binder.bindPorts({ ports[0], bad })), "Failed Failed");
        for (const char* helper : { "/nonexistent/sentrel-bind", "/bin/false", "" })
            QCOMPARE(outcomes(HelperPortBinder(helper, 2000).bindPorts({ 21, 23 })), "Failed Failed");
        QCOMPARE(openFds().size(), fdsBefore);
        QVERIFY(!Loopback::isListening(ports[0] + Offset) && !Loopback::isListening(ports[1] + Offset));
    }

    // The helper run by hand: only listed ports bound, from a list only root could have written. The
    // parser's refusals are the fuzz corpus's.
    void theHelperServesGoodRequestsFromATrustedList()
    {
        const std::vector<int> ports = freeRequestPorts(2);
        const int p = ports[0];
        const QByteArray one = request({ p }), both = request(ports), listed = QByteArray::number(p);
        const auto row = [&](const char* name, Run r) {
            if (r.outcome.isEmpty())
                r.send = both, r.outcome = servedWith(ports, { "02", "02" });
            if ((r.special == u"chown" || r.stdio == Stdio::CapabilitiesRead) && ::getuid() != 0)
                return qInfo("%s: needs root", name);
            QVERIFY2(writeList(r.list.isEmpty() ? m_allPorts : r.list, r.mode, r.folderMode), name);
            if (r.special == u"chown")
                QVERIFY2(::chown(QFile::encodeName(ListFile), 65534, 65534) == 0, name);
            if (r.special == u"link")
                QVERIFY(
                    QFile::rename(ListFile, ListFile + ".real") && QFile::link(ListFile + ".real", ListFile));
            if (r.special == u"remove")
                QVERIFY(QFile::remove(ListFile));
            QByteArray errors;
            QCOMPARE(name + (": " + runHelper(&errors, r.send, r.args, r.stdio)), name + (": " + r.outcome));
            QFile::remove(ListFile + ".real");
            QVERIFY2(errors.contains(r.error), errors.constData());
            QVERIFY2(!Loopback::isListening(p + Offset), name);
        };
        const QByteArray notListed = "not on the port list: " + QByteArray::number(ports[1]);
        const QByteArray commented = "# 1 2 3\n\t" + listed + "#4\r\n";
        // clang-format off
        row("wrong magic", { "XB" + one.mid(2), "exit 65", "not a request of this helper's protocol version" });
        row("oversized", { one + QByteArray(300, '\0'), "exit 65", "too large" });
        row("no request at all", { QByteArray(), "exit 66", "no request" });
        row("an argument", { one, "exit 64", "takes no arguments", { "--port=21" } });
        row("standard input a pipe", { one, "exit 71", {}, {}, Stdio::StdinAPipe });
        row("standard input a stream socket", { one, "exit 71", "SOCK_SEQPACKET", {}, Stdio::StdinAStream });
        row("run by root, only its own capability", { one, "holds 0000000000000400, " + servedWith({ p }, { "00" }), {}, {}, Stdio::CapabilitiesRead });
        row("standard output closed", { one, "exit 71", {}, {}, Stdio::StdoutClosed });
        row("a descriptor sent along", { one, "exit 65", "carrying descriptors", {}, Stdio::SendsADescriptor });
        row("listed or not", { both, servedWith(ports, { "00", "02" }), notListed, {}, {}, commented });
        row("the group may write it", { {}, {}, "is not a file of root's", {}, {}, listed, 0664 });
        row("anyone may write its folder", { {}, {}, "in a folder others may write", {}, {}, listed, 0644, 0777 });
        row("the group may write its folder", { {}, {}, "in a folder others may write", {}, {}, listed, 0644, 0775 });
        row("someone else's", { {}, {}, "is not a file of root's", {}, {}, listed, 0644, 0755, "chown" });
        row("a link to a good list", { {}, {}, "cannot be opened", {}, {}, listed, 0644, 0755, "link" });
        row("missing", { {}, {}, "is missing", {}, {}, listed, 0644, 0755, "remove" });
        row("a typo", { {}, {}, "holds something other", {}, {}, listed + " 2x" });
        row("port 1024", { {}, {}, "holds something other", {}, {}, listed + " 1024" });
        row("too long", { {}, {}, "holds something other", {}, {}, listed + QByteArray(16384, ' ') });
        // clang-format on
    }

private:
    const QByteArray m_allPorts = [] {
        QByteArray all = "# every port\n";
        for (int p = 1; p <= 1023; ++p)
            all += QByteArray::number(p) + '\n';
        return all;
    }();
};

QTEST_GUILESS_MAIN(TestHelperPortBinder)
#include "tst_HelperPortBinder.moc"
