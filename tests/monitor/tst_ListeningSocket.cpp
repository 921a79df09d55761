#include "MonitorRig.h"

#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

#include <arpa/inet.h>
#include <ctime>
#include <fcntl.h>
#include <sys/resource.h>

class TestListeningSocket : public QObject
{
    Q_OBJECT

private slots:
    // An IPv4 peer through the dual-stack socket is named in dotted form, each octet in as many
    // digits as it has; a receiver may close the socket with more connections queued.
    void peerTextAndACloseWhileConnectionsWait()
    {
        ListeningSocket socket;
        QCOMPARE(socket.listen(), ListeningSocket::ListenResult::Ok);
        QStringList peers;
        connect(&socket, &ListeningSocket::connectionAccepted, this, [&](const QString& peer) {
            peers << peer;
            socket.close();
        });
        const Loopback::Clients clients { Loopback::newClient(), Loopback::newClient() };
        for (const int fd : clients) {
            sockaddr_in6 from {};
            from.sin6_family = AF_INET6;
            ::inet_pton(AF_INET6, "::ffff:127.100.10.9", &from.sin6_addr);
            QCOMPARE(::bind(fd, reinterpret_cast<const sockaddr*>(&from), sizeof from), 0);
            QVERIFY(Loopback::startConnect(fd, socket.localPort()));
        }
        QTRY_COMPARE_WITH_TIMEOUT(peers, QStringList { "127.100.10.9" }, 2000);
        QTest::qWait(100);
        QCOMPARE(peers.size(), 1);
    }

    // Out of descriptors, with room for its spare it records a burst at once; without, it waits
    // and catches up once there is room again. Either way it neither spins nor stops listening.
    void outOfDescriptorsItNeitherSpinsNorStops_data()
    {
        QTest::addColumn<bool>("spare");
        QTest::newRow("with its spare") << true;
        QTest::newRow("no room for a spare") << false;
    }
    void outOfDescriptorsItNeitherSpinsNorStops()
    {
        QFETCH(bool, spare);
        constexpr int Burst = 40;
        ListeningSocket socket;
        QSignalSpy accepted(&socket, &ListeningSocket::connectionAccepted);
        // Made before the descriptors run out: connecting them takes no new one.
        Loopback::Clients clients(Burst + 5);
        for (int& fd : clients)
            fd = Loopback::newClient();
        // Room for the listening socket and maybe its spare, nothing more.
        rlimit saved {};
        ::getrlimit(RLIMIT_NOFILE, &saved);
        const int lowestFree = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        ::close(lowestFree);
        const rlimit lowered { rlim_t(lowestFree + (spare ? 2 : 1)), saved.rlim_max };
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
        const auto restore = qScopeGuard([&] { ::setrlimit(RLIMIT_NOFILE, &saved); });
        QCOMPARE(socket.listen(), ListeningSocket::ListenResult::Ok);
        QVERIFY(::open("/dev/null", O_RDONLY) < 0 && errno == EMFILE);

        for (int i = 0; i < Burst; ++i)
            Loopback::startConnect(clients[i], socket.localPort());
        QTRY_COMPARE_WITH_TIMEOUT(accepted.count(), spare ? Burst : 0, 5000);
        const std::clock_t cpu = std::clock();
        QTest::qWait(300);
        QVERIFY2(double(std::clock() - cpu) / CLOCKS_PER_SEC < 0.1, "the listener spins");
        QCOMPARE(socket.state(), ListeningSocket::State::Listening);
        QCOMPARE(accepted.count(), spare ? Burst : 0);
        ::setrlimit(RLIMIT_NOFILE, &saved);
        for (int i = Burst; i < Burst + 5; ++i)
            Loopback::startConnect(clients[i], socket.localPort());
        QTRY_COMPARE_WITH_TIMEOUT(accepted.count(), Burst + 5, 5000);
    }
};

QTEST_GUILESS_MAIN(TestListeningSocket)
#include "tst_ListeningSocket.moc"
