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
    void ipv4TextMatchesInetNtop()
    {
        for (const quint32 host : { 0x00000000u, 0x7f000001u, 0x0a00ff09u, 0xc0a80164u, 0xfffffffeu, 0x636464ffu }) {
            const quint32 network = htonl(host);
            char ours[INET_ADDRSTRLEN + 1];
            char system[INET_ADDRSTRLEN] = {};
            const int length = ListeningSocket::ipv4Text(reinterpret_cast<const unsigned char*>(&network), ours);
            QVERIFY(::inet_ntop(AF_INET, &network, system, sizeof system));
            QCOMPARE(QByteArray(ours, length), QByteArray(system));
            QCOMPARE(ours[length], '\0');
        }
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
        Loopback::Clients clients { Loopback::connectTo(socket.localPort()),
            Loopback::connectTo(socket.localPort()) };
        QTRY_COMPARE_WITH_TIMEOUT(reports, 1, 2000);
        QTest::qWait(100);
        QCOMPARE(reports, 1);
    }

    void outOfDescriptorsItNeitherSpinsNorStops_data()
    {
        QTest::addColumn<bool>("spare");
        QTest::newRow("with its spare: records the burst at once") << true;
        QTest::newRow("no room for a spare: waits, then catches up") << false;
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
        if (spare)
            QTRY_COMPARE_WITH_TIMEOUT(accepted.count(), Burst, 5000);
        const std::clock_t cpu = std::clock();
        QTest::qWait(300);
        QVERIFY2(double(std::clock() - cpu) / CLOCKS_PER_SEC < 0.1, "the listener spins");
        QCOMPARE(socket.state(), ListeningSocket::State::Listening);
        if (!spare) {
            QCOMPARE(accepted.count(), 0);
            ::setrlimit(RLIMIT_NOFILE, &saved);
        }
        for (int i = Burst; i < Burst + 5; ++i)
            Loopback::startConnect(clients[i], socket.localPort());
        QTRY_COMPARE_WITH_TIMEOUT(accepted.count(), Burst + 5, 5000);
        QCOMPARE(accepted.last().at(0).toString(), QStringLiteral("127.0.0.1"));
    }
};

QTEST_GUILESS_MAIN(TestListeningSocket)
#include "tst_ListeningSocket.moc"
