#include "ListeningSocket.h"
#include "Loopback.h"

#include <QSignalSpy>
#include <QTest>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
double cpuSeconds()
{
    rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Lowers the descriptor limit and takes every free slot below it; gives it all back at the end.
struct DescriptorExhaustion
{
    DescriptorExhaustion()
    {
        ::getrlimit(RLIMIT_NOFILE, &saved);
        const int lowestFree = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        ::close(lowestFree);
        rlimit lowered { rlim_t(lowestFree + 16), saved.rlim_max };
        ::setrlimit(RLIMIT_NOFILE, &lowered);
        for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
            fillers.push_back(fd);
    }
    ~DescriptorExhaustion()
    {
        Loopback::closeAll(fillers);
        ::setrlimit(RLIMIT_NOFILE, &saved);
    }
    void release(int count)
    {
        for (; count > 0 && !fillers.empty(); --count, fillers.pop_back())
            ::close(fillers.back());
    }

    rlimit saved {};
    std::vector<int> fillers;
};

// Client sockets are made before the descriptors run out; connecting them takes no new one.
struct Clients
{
    explicit Clients(int count)
    {
        for (int i = 0; i < count; ++i)
            fds.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    }
    ~Clients() { Loopback::closeAll(fds); }
    void connectTo(int port)
    {
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(quint16(port));
        for (const int fd : fds)
            ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    }

    std::vector<int> fds;
};

// CPU time the process uses while the event loop runs idle for the period.
double cpuWhileWaiting(int ms)
{
    const double before = cpuSeconds();
    QTest::qWait(ms);
    return cpuSeconds() - before;
}
} // namespace

class TestListeningSocket : public QObject
{
    Q_OBJECT

private slots:
    void listenBindsReadsBackAndFailsCleanly()
    {
        ListeningSocket socket;
        socket.close(); // harmless on a closed socket
        QCOMPARE(socket.listen(), ListeningSocket::ListenResult::Ok); // port 0: the system picks
        const int port = socket.localPort();
        QVERIFY(port > 0 && Loopback::isListening(port));

        ListeningSocket second;
        second.setLocalPort(port);
        QCOMPARE(second.listen(), ListeningSocket::ListenResult::InUse);
        QCOMPARE(second.state(), ListeningSocket::State::Closed);
        socket.close();
        QCOMPARE(socket.state(), ListeningSocket::State::Closed);
        QVERIFY(!Loopback::isListening(port));

        // An IPv4-only holder blocks the dual-stack socket too.
        const int holder = Loopback::holdPort(port);
        QCOMPARE(second.listen(), ListeningSocket::ListenResult::InUse);
        ::close(holder);
        second.setLocalPort(65536);
        QCOMPARE(second.listen(), ListeningSocket::ListenResult::OtherError);
    }

    void dropsAClientThatSendsFirstUnreadAndKeepsListening()
    {
        ListeningSocket socket;
        QCOMPARE(socket.listen(), ListeningSocket::ListenResult::Ok);
        QSignalSpy accepted(&socket, &ListeningSocket::connectionAccepted);
        const int client = Loopback::connectTo(socket.localPort());
        QCOMPARE(::send(client, "USER root\r\n", 11, MSG_NOSIGNAL), 11);

        QVERIFY(accepted.wait(2000));
        QCOMPARE(accepted.at(0), QVariantList({ QStringLiteral("127.0.0.1"), socket.localPort() }));
        QVERIFY(Loopback::closedByServer(client));
        ::close(client);
        QCOMPARE(socket.state(), ListeningSocket::State::Listening);
    }

    void aReceiverMayCloseTheSocketWithConnectionsQueued()
    {
        ListeningSocket socket;
        QCOMPARE(socket.listen(), ListeningSocket::ListenResult::Ok);
        int reports = 0;
        connect(&socket, &ListeningSocket::connectionAccepted, this, [&] {
            ++reports;
            socket.close();
        });
        std::vector<int> clients { Loopback::connectTo(socket.localPort()),
            Loopback::connectTo(socket.localPort()) };
        QTRY_COMPARE_WITH_TIMEOUT(reports, 1, 2000);
        QTest::qWait(100);
        QCOMPARE(reports, 1);
        Loopback::closeAll(clients);
    }

    void outOfDescriptorsEveryConnectionIsStillRecorded()
    {
        ListeningSocket socket;
        QCOMPARE(socket.listen(), ListeningSocket::ListenResult::Ok);
        QSignalSpy accepted(&socket, &ListeningSocket::connectionAccepted);
        Clients burst(40);
        Clients after(5);
        DescriptorExhaustion exhaustion;
        QVERIFY(::open("/dev/null", O_RDONLY) < 0 && errno == EMFILE);

        burst.connectTo(socket.localPort());
        QTRY_COMPARE_WITH_TIMEOUT(accepted.count(), 40, 5000);
        QVERIFY2(cpuWhileWaiting(300) < 0.1, "the listener spins");
        after.connectTo(socket.localPort());
        QTRY_COMPARE_WITH_TIMEOUT(accepted.count(), 45, 2000);
        QCOMPARE(accepted.last().at(0).toString(), QStringLiteral("127.0.0.1"));
    }

    void withoutASpareDescriptorItWaitsQuietlyAndCatchesUp()
    {
        ListeningSocket socket;
        QSignalSpy accepted(&socket, &ListeningSocket::connectionAccepted);
        Clients clients(10);
        DescriptorExhaustion exhaustion;
        exhaustion.release(1); // room for the listening socket, none for its spare
        QCOMPARE(socket.listen(), ListeningSocket::ListenResult::Ok);

        clients.connectTo(socket.localPort());
        QVERIFY2(cpuWhileWaiting(400) < 0.1, "the listener spins while no descriptor is free");
        QCOMPARE(accepted.count(), 0);
        QCOMPARE(socket.state(), ListeningSocket::State::Listening);

        exhaustion.release(2);
        QTRY_COMPARE_WITH_TIMEOUT(accepted.count(), 10, 2000);
    }
};

QTEST_GUILESS_MAIN(TestListeningSocket)
#include "tst_ListeningSocket.moc"
