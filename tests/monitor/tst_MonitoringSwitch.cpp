#include "AlarmSelfTest.h"
#include "MonitorRig.h"
#include "PacketWatch.h"
#include "PortBinder.h"

#include <ctime>
#include <fcntl.h>
#include <sys/resource.h>

namespace {
// Hands out listening sockets on free ports or UDP sockets in place of the ports asked for, or the outcome.
struct FakeBinder final : PortBinder
{
    std::vector<Result> bindPorts(const std::vector<int>& ports, Protocol protocol) override
    {
        const bool udp = protocol == Protocol::Udp;
        for (const int port : ports)
            asked << QString(udp ? "udp %1" : "tcp %1").arg(port);
        std::vector<Result> results(ports.size(), Result { outcome, -1 });
        for (Result& result : results)
            if (outcome == Outcome::Bound && udp)
                result.fd = ::socket(AF_INET6, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            else if (outcome == Outcome::Bound)
                ::listen(result.fd = Loopback::newClient(), 8);
        return results;
    }
    Outcome outcome {};
    QStringList asked;
};

} // namespace

class TestMonitoringSwitch : public QObject
{
    Q_OBJECT

private slots:
    // Out of descriptors, with room for its spare it records a burst at once; without, it waits and
    // catches up once there is room again. Either way it neither spins nor stops listening.
    void outOfDescriptorsItNeitherSpinsNorStops()
    {
        for (const bool spare : { true, false }) {
            constexpr int Burst = 40;
            ListeningSocket socket;
            QSignalSpy accepted(&socket, &ListeningSocket::connectionAccepted);
            Loopback::Clients clients(Burst + 5); // made before the descriptors run out
            std::generate(clients.begin(), clients.end(), Loopback::newClient);
            rlimit saved {}; // room for the listening socket and maybe its spare, nothing more
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
    }

    // On, three intruders, off, on again: each connection is one block of lines, dropped unread
    // (one that sends first gets a reset); the elements of the first start serve the next.
    void switchingAndIntruders()
    {
        const std::vector<int> ports = Loopback::freePorts(2);
        const QString a = QString::number(ports[0]), b = QString::number(ports[1]);
        MonitorRig rig({ a, b }, {}, false, true);
        QSignalSpy captions(&rig.monitoring, &MonitoringSwitch::captionChanged);
        const QStringList switchedOn { "sound:Start.wav", "line:Monitoring Port: " + a,
            "line:Monitoring Port: " + b, "text:Protecting.." };
        rig.monitoring.toggleMonitoring();
        QCOMPARE(rig.out.log, switchedOn);
        QVERIFY(rig.state.isActive() && Loopback::isListening(ports[0]) && Loopback::isListening(ports[1]));
        const ListeningSocket* second = &rig.monitoring.listener(1);

        QStringList expected = switchedOn;
        for (const auto& [port, ipv6] :
            { std::pair { ports[0], false }, { ports[0], false }, { ports[1], true } }) {
            const QString address = ipv6 ? "::1" : "127.0.0.1";
            const Loopback::Clients client { Loopback::connectTo(port, ipv6) };
            if (client[0] < 0 && ipv6)
                continue; // no IPv6 loopback on this machine
            if (ipv6)
                QCOMPARE(::send(client[0], "USER root\r\n", 11, MSG_NOSIGNAL), 11);
            expected += intrusionLog(address, port);
            QTRY_COMPARE_WITH_TIMEOUT(rig.out.log, expected, 2000);
            const Event& event = rig.out.events.back();
            QVERIFY(event.kind == Event::Kind::Intrusion && !event.sentinel);
            QCOMPARE(QString("%1 %2 %3").arg(event.address).arg(event.port).arg(event.sourcePort),
                QString("%1 %2 %3").arg(address).arg(port).arg(Loopback::localPort(client[0])));
            QVERIFY(Loopback::closedByServer(client[0]));
        }

        rig.out.log.clear();
        rig.monitoring.toggleMonitoring();
        QCOMPARE(rig.out.log, QStringList({ "line:Monitoring Ports Disabled.", "text:Disabled." }));
        QVERIFY(
            !rig.state.isActive() && !Loopback::isListening(ports[0]) && !Loopback::isListening(ports[1]));
        rig.out.log.clear();
        rig.monitoring.toggleMonitoring();
        QCOMPARE(rig.out.log, switchedOn);
        QVERIFY(rig.monitoring.listenerCount() == 2 && &rig.monitoring.listener(1) == second);
        QCOMPARE(captions, QList<QVariantList>({ { "Stop" }, { "Start" }, { "Stop" } }));
    }

    // Failures are reported on switching on only; after the options no element keeps a port its entry
    // no longer names. One event per port left unguarded, naming the entry and the port if any. The test
    // alarm makes one intrusion on the first armed port, even from an allowed source.
    void failingPortsTheTestAlarmAndTheOptionsCycle()
    {
        const std::vector<int> free = Loopback::freePorts(4);
        const QString port = QString::number(free[0]), held = QString::number(free[1]);
        QTcpServer holder; // IPv4 only, as another program may hold it
        QVERIFY(holder.listen(QHostAddress::AnyIPv4, quint16(free[1])));
        MonitorRig rig({ port, port, held, "abc", "", "0", "-5", "70000", QString::number(free[2]) });
        rig.monitoring.intrusions().configure({ .allow = AllowList::parse("127.0.0.1 ::1") });
        AlarmSelfTest selfTest(rig.monitoring, rig.out);
        selfTest.run();
        QCOMPARE(rig.out.log.takeLast(), QString("text:Test Alarm: no port is being monitored"));

        rig.monitoring.toggleMonitoring();
        QCOMPARE(rig.out.lines(),
            QStringList({ "Monitoring Port: " + port, "Port: " + port + " is already open",
                "Port: " + held + " is already open", "Port: abc is not a valid port",
                "Port:  is not a valid port", "Port: 0 is not a valid port", "Port: -5 is not a valid port",
                "Port: 70000 is not a valid port", "Monitoring Port: " + QString::number(free[2]) }));
        QStringList events;
        for (const Event& e : rig.out.events)
            events << e.entry + '|' + QString::number(e.port) + '|' + Event::reasonName(e.reason);
        QCOMPARE(events,
            QStringList({ port + '|' + port + "|in_use", held + '|' + held + "|in_use", "abc|0|invalid_port",
                "|0|invalid_port", "0|0|invalid_port", "-5|0|invalid_port", "70000|0|invalid_port", "|0|" }));
        QCOMPARE(rig.out.events.back().kind, Event::Kind::MonitoringStarted);
        rig.out.log.clear();
        QSignalSpy finished(&selfTest, &AlarmSelfTest::finished);
        selfTest.run();
        QVERIFY(finished.wait(AlarmSelfTest::TimeoutMs + 1000));
        QCOMPARE(rig.out.log.filter("alert:"), QStringList { "alert:127.0.0.1|" + port + '|' });
        QCOMPARE(rig.out.log.last(), "text:Test Alarm: the intrusion on port " + port + " was recorded");

        rig.out.log.clear();
        rig.monitoring.closePortListeners();
        QVERIFY(rig.state.isActive() && !Loopback::isListening(free[0]) && !Loopback::isListening(free[2]));
        rig.configure({ "abc", QString::number(free[3]), QString::number(free[3]), held });
        rig.monitoring.openPortListeners();
        QCOMPARE(rig.out.log, QStringList {});
        QVERIFY(Loopback::isListening(free[3]) && !Loopback::isListening(free[0])
            && !Loopback::isListening(free[2]));
    }

    // As a user without the right to bind port 21 or UDP 137: listeners and tripwires each ask the privileged
    // binder (bound, in use, failed, or none: -1) once for all such ports and report what came of it; the
    // re-open after the options asks again and says nothing. An adopted socket is a listener like any other.
    void portsBelow1024FallBackOnThePrivilegedBinder()
    {
        const std::pair<int, QString> cases[] { { int(PortBinder::Outcome::Bound), "Monitoring Port: 21" },
            { int(PortBinder::Outcome::InUse), "Port: 21 is already open" },
            { int(PortBinder::Outcome::Failed), "Port: 21 needs administrator rights" },
            { -1, "Port: 21 needs administrator rights" } };
        for (const auto& [binder, line] : cases) {
            const bool root = ::geteuid() == 0; // root sets its right aside, keeping the way back
            QVERIFY(!root || ::seteuid(65534) == 0);
            const auto restore = qScopeGuard([root] { QVERIFY(!root || ::seteuid(0) == 0); });
            ListeningSocket probe;
            probe.setLocalPort(21);
            if (probe.listen() != ListeningSocket::ListenResult::NeedsPrivileges)
                QSKIP("a user may bind port 21 on this system");

            FakeBinder fake;
            fake.outcome = PortBinder::Outcome(binder);
            const QString high = QString::number(Loopback::freePorts(1)[0]);
            MonitorRig rig({ "21", high });
            rig.monitoring.configureDetection({ .udpPorts = { "137" } }, true);
            rig.monitoring.setPrivilegedBinder(binder >= 0 ? &fake : nullptr);
            rig.monitoring.toggleMonitoring();
            rig.monitoring.closePortListeners();
            rig.monitoring.openPortListeners();
            QCOMPARE(rig.out.lines(),
                QStringList({ line, "Monitoring Port: " + high,
                    QString(line).replace("Port: 21", "UDP Port: 137") }));
            QCOMPARE(fake.asked,
                binder >= 0 ? QStringList({ "tcp 21", "udp 137", "tcp 21", "udp 137" }) : QStringList());
            QCOMPARE(rig.monitoring.tripwire(0).isOpen(), binder == int(PortBinder::Outcome::Bound));
            const ListeningSocket& adopted = rig.monitoring.listener(0);
            QCOMPARE(adopted.state() == ListeningSocket::State::Listening,
                binder == int(PortBinder::Outcome::Bound));
            if (adopted.state() == ListeningSocket::State::Listening) {
                rig.out.log.clear();
                const Loopback::Clients client { Loopback::connectTo(adopted.localPort()) };
                QTRY_COMPARE_WITH_TIMEOUT(rig.out.log, intrusionLog("127.0.0.1", adopted.localPort()), 2000);
            }
        }
    }

    // Only while monitoring, on the next draw every tick (the first is the port the fixed listener
    // holds), without a word until an intruder comes; its draws cover every real port and nothing else.
    void theSentinelMovesSilentlyOncePerTickAndTakesIntruders()
    {
        const std::vector<int> free = Loopback::freePorts(3);
        std::size_t draws = 0;
        MonitorRig rig({ QString::number(free[0]) },
            { std::chrono::milliseconds(500), [&] { return free[std::min<std::size_t>(draws++, 2)]; } },
            true);
        QVERIFY(!rig.monitoring.sentinel().isLoaded());
        rig.monitoring.toggleMonitoring();
        const QStringList switchedOn = rig.out.log;
        QVERIFY(rig.monitoring.sentinel().isLoaded() && draws == 0);
        QTRY_COMPARE_WITH_TIMEOUT(draws, std::size_t(1), 2000);
        QCOMPARE(rig.monitoring.sentinel().socket().state(), ListeningSocket::State::Closed);
        QTRY_VERIFY_WITH_TIMEOUT(Loopback::isListening(free[1]), 2000);
        QVERIFY(!Loopback::isListening(free[2]));
        QTRY_VERIFY_WITH_TIMEOUT(Loopback::isListening(free[2]), 2000);
        QVERIFY(!Loopback::isListening(free[1]));

        const Loopback::Clients client { Loopback::connectTo(free[2]) };
        QTRY_COMPARE_WITH_TIMEOUT(rig.out.log, switchedOn + intrusionLog("127.0.0.1", free[2]), 2000);
        QVERIFY(rig.out.events.back().sentinel);
        rig.monitoring.toggleMonitoring();
        QVERIFY(!rig.monitoring.sentinel().isLoaded() && !Loopback::isListening(free[2]));
        std::vector<int> drawn(20000);
        std::generate(drawn.begin(), drawn.end(), &RandomPortSentinel::drawPortFromClock);
        const auto [lowest, highest] = std::minmax_element(drawn.begin(), drawn.end());
        QVERIFY(*lowest >= 1 && *lowest <= 200 && *highest <= 65535 && *highest >= 65335);
    }

    // At exit a sweep still under way gets its closing record with every port it touched, before its
    // incident's ended record, as when monitoring stops.
    void exitEndsAnOpenSweep()
    {
        MonitorRig rig({ QString::number(Loopback::freePorts(1)[0]) });
        rig.monitoring.configureDetection({}, false);
        rig.monitoring.toggleMonitoring();
        const IpAddress source = *IpAddress::parse(u"192.0.2.9"), here = *IpAddress::parse(u"192.0.2.100");
        QList<TcpProbe> sweep;
        for (int port = 30001; port <= 31000; ++port)
            sweep.append({ source, 40000, here, quint16(port), TcpProbe::Syn });
        rig.monitoring.probes().probesSeen(sweep);
        rig.out.events.clear();
        rig.monitoring.endIncidents();
        QStringList records;
        for (const Event& e : rig.out.events)
            records << QString("%1 %2 %3").arg(Event::kindName(e.kind), e.address).arg(e.count);
        QCOMPARE(records, QStringList({ "port_scan 192.0.2.9 1000", "incident_ended 192.0.2.9 1" }));
        QVERIFY(rig.out.events.front().scanEnded);
    }

    // The UDP list reports its ports like the TCP list; a datagram is an intrusion and gets no
    // answer. A SYN whose connection was accepted is that connection only, also when the accept
    // comes after the deadline; one never accepted is half-open. Without the watch's privilege one
    // line says so, once.
    void udpTripwiresAndProbesOnRealSockets()
    {
        const std::vector<int> free = Loopback::freePorts(3);
        const QString tcp = QString::number(free[0]), udp = QString::number(free[1]),
                      held = QString::number(free[2]);
        QUdpSocket holder;
        QVERIFY(holder.bind(QHostAddress::AnyIPv4, quint16(free[2])));
        MonitorRig rig({ tcp });
        PacketWatch watch;
        rig.monitoring.setPacketWatch(&watch);
        rig.monitoring.configureDetection({ .udpPorts = { udp, held, "x" } }, true);
        rig.monitoring.toggleMonitoring();
        const QStringList watchLine = watch.state() == PacketWatch::State::NeedsPrivilege
            ? QStringList { "Stealth scan watch needs administrator rights" }
            : QStringList {};
        QCOMPARE(rig.out.lines(),
            QStringList({ "Monitoring Port: " + tcp, "Monitoring UDP Port: " + udp,
                "UDP Port: " + held + " is already open", "UDP Port: x is not a valid port" })
                + watchLine);
        QVERIFY(rig.out.events.front().udp && rig.out.events.front().port == free[2]);

        QUdpSocket client;
        QVERIFY(client.bind(QHostAddress::LocalHost, 0));
        QCOMPARE(client.writeDatagram("version.bind", QHostAddress::LocalHost, quint16(free[1])), 12);
        QTRY_COMPARE_WITH_TIMEOUT(rig.out.log.filter("alert:"),
            QStringList({ "alert:127.0.0.1|" + udp + "|UDP probe: the address may be forged" }), 2000);
        // Loopback delivers at once: an answer sent while the datagram was handled would be here.
        QVERIFY(!client.hasPendingDatagrams());

        // The listener is slower than the deadline: the connection still waits in its queue.
        rig.monitoring.probes().setWatching(true);
        const Loopback::Clients connection { Loopback::connectTo(free[0]) };
        const quint16 connected = quint16(Loopback::localPort(connection[0]));
        const IpAddress loopback = IpAddress::fromIpv4(0x7f000001);
        rig.monitoring.probes().probesSeen(
            { { loopback, connected, loopback, quint16(free[0]), TcpProbe::Syn },
                { loopback, 1, loopback, quint16(free[0]), TcpProbe::Syn } });
        QThread::msleep(std::chrono::milliseconds(PendingSyns::Deadline).count() + 100);
        rig.monitoring.probes().expire();
        QTRY_COMPARE_WITH_TIMEOUT(rig.out.log.filter("alert:").size(), 3, 3000);
        QStringList intrusions;
        for (const Event& e : rig.out.events)
            if (e.kind == Event::Kind::Intrusion)
                intrusions << QString("%1 %2").arg(Event::detectionName(e.detection)).arg(e.sourcePort);
        QCOMPARE(intrusions,
            QStringList({ "udp " + QString::number(client.localPort()),
                "connect " + QString::number(connected), "half_open 1" }));

        // A burst beyond the queue: what the kernel dropped is one line when the tripwires close. A
        // datagram sent once reading began comes after the rest of the burst.
        const std::size_t before = rig.out.events.size();
        for (int i = 0; i < 3000; ++i)
            client.writeDatagram("x", 1, QHostAddress::LocalHost, quint16(free[1]));
        QTRY_VERIFY_WITH_TIMEOUT(rig.out.events.size() > before, 2000);
        QUdpSocket last;
        QVERIFY(last.bind(QHostAddress::LocalHost, 0)
            && last.writeDatagram("y", 1, QHostAddress::LocalHost, quint16(free[1])) == 1);
        QTRY_COMPARE_WITH_TIMEOUT(rig.out.events.back().sourcePort, int(last.localPort()), 5000);
        rig.monitoring.toggleMonitoring();
        QFile queueSize("/proc/sys/net/core/rmem_default"); // 3000 datagrams overflow up to about 1 MB
        const bool overflowed
            = !queueSize.open(QIODevice::ReadOnly) || queueSize.readAll().trimmed().toInt() < (1 << 20);
        const QString dropped = rig.out.lines().filter("datagrams dropped").join('|');
        const QRegularExpression once("^UDP Ports: \\d+ datagrams dropped, more than the queue holds$");
        QVERIFY2(!overflowed || once.match(dropped).hasMatch(), qPrintable(dropped));
        rig.out.log.clear();
        rig.monitoring.toggleMonitoring();
        QCOMPARE(rig.out.lines().filter("Stealth"), QStringList());
        QCOMPARE(rig.out.lines().filter("UDP Port").size(), 3);
    }
};

QTEST_GUILESS_MAIN(TestMonitoringSwitch)
#include "tst_MonitoringSwitch.moc"
