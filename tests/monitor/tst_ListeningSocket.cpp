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

// Takes every free descriptor slot of the process below a lowered limit, and gives it all back.
class DescriptorExhaustion
{
public:
    DescriptorExhaustion()
    {
        ::getrlimit(RLIMIT_NOFILE, &m_saved);
        const int lowestFree = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        ::close(lowestFree);
        rlimit lowered = m_saved;
        lowered.rlim_cur = rlim_t(lowestFree + 16);
        ::setrlimit(RLIMIT_NOFILE, &lowered);
        for (;;) {
            const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
            if (fd < 0)
                break;
            m_fillers.push_back(fd);
        }
    }
    ~DescriptorExhaustion()
    {
        Loopback::closeAll(m_fillers);
        ::setrlimit(RLIMIT_NOFILE, &m_saved);
    }
    void release(int count)
    {
        for (int i = 0; i < count && !m_fillers.empty(); ++i) {
            ::close(m_fillers.back());
            m_fillers.pop_back();
        }
    }

private:
    rlimit m_saved {};
    std::vector<int> m_fillers;
};

// Client sockets made before the descriptors run out: connecting them needs no new descriptor.
std::vector<int> unconnectedClients(int count)
{
    std::vector<int> fds;
    for (int i = 0; i < count; ++i)
        fds.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    return fds;
}

void connectAll(const std::vector<int>& fds, int port)
{
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(quint16(port));
    for (const int fd : fds)
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
}
} // namespace

class TestListeningSocket : public QObject
{
    Q_OBJECT

private slots:
    void listenReadsBackTheBoundPortAndCloseFreesIt()
    {
        ListeningSocket socket;
        QCOMPARE(socket.state(), ListeningSocket::State::Closed);
        socket.close(); // closing a closed socket is harmless

        socket.setLocalPort(0);
        QCOMPARE(socket.listen(), ListeningSocket::ListenResult::Ok);
        const int port = socket.localPort();
        QVERIFY(port > 0);
        QCOMPARE(socket.state(), ListeningSocket::State::Listening);
        QVERIFY(Loopback::isListening(port));

        socket.close();
        QCOMPARE(socket.state(), ListeningSocket::State::Closed);
        QVERIFY(!Loopback::isListening(port));
    }

    void listenFailuresLeaveTheSocketClosed()
    {
        const int port = Loopback::freePort();
        const int held = Loopback::holdPort(port);
        QVERIFY(held >= 0);
        ListeningSocket socket;
        socket.setLocalPort(port);
        // An IPv4-only holder blocks the dual-stack socket as well.
        QCOMPARE(socket.listen(), ListeningSocket::ListenResult::InUse);
        QCOMPARE(socket.state(), ListeningSocket::State::Closed);
        ::close(held);

        ListeningSocket first;
        first.setLocalPort(port);
        QCOMPARE(first.listen(), ListeningSocket::ListenResult::Ok);
        QCOMPARE(socket.listen(), ListeningSocket::ListenResult::InUse);

        socket.setLocalPort(65536);
        QCOMPARE(socket.listen(), ListeningSocket::ListenResult::OtherError);
        QCOMPARE(socket.state(), ListeningSocket::State::Closed);
    }

    void reportsPeerAddressAndLocalPort_data()
    {
        QTest::addColumn<bool>("ipv6");
        QTest::addColumn<QString>("address");
        QTest::newRow("IPv4 arrives mapped, reported dotted") << false << QStringLiteral("127.0.0.1");
        QTest::newRow("IPv6") << true << QStringLiteral("::1");
    }
    void reportsPeerAddressAndLocalPort()
    {
        QFETCH(bool, ipv6);
        QFETCH(QString, address);
        ListeningSocket socket;
        QCOMPARE(socket.listen(), ListeningSocket::ListenResult::Ok);
        QSignalSpy accepted(&socket, &ListeningSocket::connectionAccepted);

        const int client = Loopback::connectTo(socket.localPort(), ipv6);
        if (client < 0 && ipv6)
            QSKIP("no IPv6 loopback on this machine");
        QVERIFY(client >= 0);
        QVERIFY(accepted.wait(2000));
        QCOMPARE(accepted.count(), 1);
        QCOMPARE(accepted.at(0).at(0).toString(), address);
        QCOMPARE(accepted.at(0).at(1).toInt(), socket.localPort());
        QVERIFY(Loopback::waitForClose(client, 2000));
        ::close(client);
    }

    void dropsAClientThatSendsFirstWithoutReadingOrAnswering()
    {
        ListeningSocket socket;
        QCOMPARE(socket.listen(), ListeningSocket::ListenResult::Ok);
        QSignalSpy accepted(&socket, &ListeningSocket::connectionAccepted);

        const int client = Loopback::connectTo(socket.localPort());
        QVERIFY(client >= 0);
        QCOMPARE(::send(client, "USER root\r\n", 11, MSG_NOSIGNAL), 11);
        QVERIFY(accepted.wait(2000));
        // recv gives end of stream or a reset, never a byte from the server.
        QVERIFY(Loopback::waitForClose(client, 2000));
        ::close(client);
        QCOMPARE(socket.state(), ListeningSocket::State::Listening);
    }

    void recordsEveryConnectionOfABurstAndKeepsListening()
    {
        constexpr int Burst = 1000;
        if (!Loopback::ensureDescriptors(Burst + 200))
            QSKIP("the descriptor limit is too low for the burst");
        ListeningSocket socket;
        QCOMPARE(socket.listen(), ListeningSocket::ListenResult::Ok);
        QSignalSpy accepted(&socket, &ListeningSocket::connectionAccepted);

        // All of them connect before the event loop runs: they wait in the queue together.
        std::vector<int> clients;
        for (int i = 0; i < Burst; ++i)
            clients.push_back(Loopback::startConnect(socket.localPort()));
        QTRY_COMPARE_WITH_TIMEOUT(accepted.count(), Burst, 10000);
        Loopback::closeAll(clients);

        const int late = Loopback::connectTo(socket.localPort());
        QVERIFY(late >= 0);
        QTRY_COMPARE_WITH_TIMEOUT(accepted.count(), Burst + 1, 2000);
        ::close(late);
    }

    void aReceiverMayCloseTheSocketWhileConnectionsAreQueued()
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

    void descriptorExhaustionNeitherSpinsNorLosesTheListener()
    {
        ListeningSocket socket;
        QCOMPARE(socket.listen(), ListeningSocket::ListenResult::Ok);
        QSignalSpy accepted(&socket, &ListeningSocket::connectionAccepted);
        std::vector<int> burst = unconnectedClients(40);
        std::vector<int> after = unconnectedClients(5);
        {
            DescriptorExhaustion exhaustion;
            QVERIFY(::open("/dev/null", O_RDONLY) < 0 && errno == EMFILE);

            connectAll(burst, socket.localPort());
            QTRY_COMPARE_WITH_TIMEOUT(accepted.count(), 40, 5000);
            const double before = cpuSeconds();
            QTest::qWait(300);
            QVERIFY2(cpuSeconds() - before < 0.1, "the idle listener uses the CPU");
            QCOMPARE(socket.state(), ListeningSocket::State::Listening);

            connectAll(after, socket.localPort());
            QTRY_COMPARE_WITH_TIMEOUT(accepted.count(), 45, 2000);
        }
        QCOMPARE(accepted.last().at(0).toString(), QStringLiteral("127.0.0.1"));
        Loopback::closeAll(burst);
        Loopback::closeAll(after);
    }

    void withoutASpareDescriptorItWaitsQuietlyAndCatchesUp()
    {
        ListeningSocket socket;
        QSignalSpy accepted(&socket, &ListeningSocket::connectionAccepted);
        std::vector<int> clients = unconnectedClients(10);
        DescriptorExhaustion exhaustion;
        exhaustion.release(1); // room for the listening socket, none for its spare
        QCOMPARE(socket.listen(), ListeningSocket::ListenResult::Ok);

        connectAll(clients, socket.localPort());
        const double before = cpuSeconds();
        QTest::qWait(400);
        QVERIFY2(cpuSeconds() - before < 0.1, "the listener spins while no descriptor is free");
        QCOMPARE(accepted.count(), 0);
        QCOMPARE(socket.state(), ListeningSocket::State::Listening);

        exhaustion.release(2);
        QTRY_COMPARE_WITH_TIMEOUT(accepted.count(), 10, 2000);
        Loopback::closeAll(clients);
    }
};

QTEST_GUILESS_MAIN(TestListeningSocket)
#include "tst_ListeningSocket.moc"
