#include "Event.h"
#include "EventFormat.h"
#include "EventOutputs.h"
#include "Recorder.h"
#include "RemoteCollector.h"
#include "Rfc5424.h"
#include "SystemLog.h"
#include "TestFiles.h"

#include <sys/socket.h>
#include <unistd.h>

namespace {
struct Quiet final : SystemLog
{
    void open() override { }
    void close() override { }
    quint64 write(Level, const QByteArray&) override { return std::exchange(lostBefore, 0); }
    quint64 lostBefore = 0; // what the system log reports lost with the next message
};

// A real rsyslogd on free loopback ports, writing every message's parsed fields to a file.
struct Collector
{
    Collector()
    {
        QTcpServer tcp;
        QUdpSocket udp;
        if (tcp.listen(QHostAddress::LocalHost) && udp.bind(QHostAddress::LocalHost, 0))
            ports = { tcp.serverPort(), udp.localPort() };
    }
    ~Collector() { run("stop"); }
    bool run(const char* command) const
    {
        return QProcess::execute(SENTREL_RSYSLOGD_SCRIPT,
                   { command, dir.path(), QString::number(ports.first), QString::number(ports.second) })
            == 0;
    }

    // The messages received so far, waiting up to ten seconds for the given count.
    QList<QJsonObject> received(int count) const
    {
        QList<QJsonObject> messages;
        for (const QDeadlineTimer deadline(10000); messages.size() < count && !deadline.hasExpired();) {
            QTest::qWait(20);
            messages.clear();
            for (const QByteArray& line : fileBytes(dir.filePath("messages.jsonl")).split('\n'))
                if (!line.isEmpty())
                    messages << QJsonDocument::fromJson(line).object();
        }
        return messages;
    }

    QTemporaryDir dir;
    std::pair<quint16, quint16> ports; // tcp, udp
};

// The structured data's parameters, unescaped.
QHash<QString, QString> params(const QJsonObject& message)
{
    QHash<QString, QString> values;
    static const QRegularExpression param("(\\w+)=\"((?:[^\"\\\\]|\\\\.)*)\"");
    for (const QRegularExpressionMatch& m : param.globalMatch(message["sd"].toString()))
        values[m.captured(1)] = m.captured(2).replace(QRegularExpression("\\\\(.)"), "\\1");
    return values;
}
// Accepts and keeps the connection as a bare descriptor that nobody reads; its small buffer fills soon.
struct StalledCollector final : QTcpServer
{
    StalledCollector()
    {
        const int size = 4096;
        if (listen(QHostAddress::LocalHost))
            ::setsockopt(int(socketDescriptor()), SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    }
    ~StalledCollector() override { ::close(fd); } // -1 when handed over
    void incomingConnection(qintptr descriptor) override { fd = int(descriptor); }
    int fd = -1;
};
} // namespace

// A real rsyslogd on loopback as the collector, but for the stalled one: a socket nobody reads.
class TestRemoteCollector : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        if (QTest::currentTestFunction() != QByteArray("stalledCollectorKeepsMemoryBounded")
            && QStandardPaths::findExecutable("rsyslogd", { "/usr/sbin", "/sbin" }).isEmpty())
            QSKIP("rsyslogd is not installed (Debian package rsyslog, scripts/install-deps.sh --test)");
    }

    // Through the outputs as the program uses them, over TCP then UDP to the same collector, each
    // intrusion from another IPv4 or IPv6 peer; the system log's report of its losses becomes a status line.
    void thousandIntrusionsArriveInOrder()
    {
        Collector rsyslogd;
        QVERIFY(rsyslogd.run("start"));
        const int count = 1000;
        const auto address = [](int i) {
            return i % 2 ? QString("192.0.2.%1").arg(i % 256) : QString("2001:db8::%1").arg(i, 0, 16);
        };
        for (const QString protocol : { "tcp", "udp" }) {
            Recorder status;
            Quiet quiet;
            EventOutputs outputs(status, quiet);
            const quint16 port = protocol == "tcp" ? rsyslogd.ports.first : rsyslogd.ports.second;
            quiet.lostBefore = 3;
            outputs.configure({ .eventLog = false,
                                  .collector = Settings::Collector::parse(QString("127.0.0.1:%1").arg(port),
                                      protocol == "udp" ? Settings::Collector::Protocol::Udp
                                                        : Settings::Collector::Protocol::Tcp) },
                rsyslogd.dir.path());
            QTRY_VERIFY(outputs.collector().isConnected());
            for (int i = 0; i < count; ++i) {
                outputs.record(Event::intrusion(address(i), 1024, 23, false));
                // Datagrams have no flow control: a pause now and then keeps the collector's receive
                // buffer from overflowing, which would lose messages outside this program.
                if (protocol == "udp" && i % 50 == 49)
                    QTest::qWait(5);
            }
            const qsizetype before = protocol == "tcp" ? 0 : count;
            const QList<QJsonObject> messages = rsyslogd.received(before + count).mid(before);
            QCOMPARE(messages.size(), count);
            QCOMPARE(outputs.collector().droppedTotal(), 0u);
            for (int i = 0; i < count; ++i) {
                const QJsonObject& m = messages[i];
                QCOMPARE(QString::number(m["pri"].toInt()) + ' ' + m["app"].toString() + ' '
                        + m["msgid"].toString() + ' ' + m["procid"].toString(),
                    "84 sentrel intrusion " + QString::number(QCoreApplication::applicationPid()));
                const QHash<QString, QString> p = params(m); // the fields' forms are the message format's
                QCOMPARE(p["seq"] + ' ' + p["address"], QString::number(i + 1) + ' ' + address(i));
            }
            QTRY_COMPARE(outputs.missing(quint64(count)), QStringList());
            QCOMPARE(status.lines(), QStringList { "System log: 3 events could not be written to syslog" });
        }
    }

    // rsyslogd stops while events keep coming: the queue keeps the newest 50, the first message after
    // the gap says how many went, and everything after it arrives in order.
    void collectorAwayDropsOldestAndSaysHowMany()
    {
        Collector rsyslogd;
        QVERIFY(rsyslogd.run("start"));
        const EventFormat format("box");
        const qint64 pid = QCoreApplication::applicationPid();
        RemoteCollector collector(
            [&](quint64 dropped) {
                return Rfc5424::droppedMessage(dropped, "2026-03-01T00:00:00.000+00:00", format, 10, pid);
            },
            RemoteCollector::Backoff { std::chrono::milliseconds(20), std::chrono::milliseconds(200) });
        collector.open("127.0.0.1", rsyslogd.ports.first, RemoteCollector::Protocol::Tcp, 50);
        quint64 sequence = 0;
        const auto send = [&](int count) {
            for (int i = 0; i < count; ++i) {
                Event event = Event::intrusion("192.0.2.1", 4000, 23, false);
                event.sequence = ++sequence;
                collector.send(Rfc5424::message(event, format, 10, pid), sequence);
            }
        };

        QTRY_VERIFY(collector.isConnected());
        send(10);
        QCOMPARE(rsyslogd.received(10).size(), 10);

        rsyslogd.run("stop");
        QTRY_VERIFY(!collector.isConnected());
        send(120); // 11..130 while nobody listens
        QCOMPARE(collector.queued(), 50);
        QCOMPARE(collector.droppedTotal(), 70u);
        QTest::qWait(300); // a few refused reconnections
        QVERIFY(rsyslogd.run("start"));
        QTRY_VERIFY_WITH_TIMEOUT(collector.isConnected(), 5000);
        send(10); // 131..140

        QStringList expected;
        for (int n = 1; n <= 71; ++n) // the first ten, the count of the dropped, then 81..140
            expected << (n == 11 ? "dropped 70" : QString::number(n > 11 ? n + 69 : n));
        QStringList sequences;
        for (const QJsonObject& m : rsyslogd.received(expected.size())) {
            const QHash<QString, QString> p = params(m);
            sequences << (m["msgid"] == "events_dropped" ? "dropped " + p["dropped"] : p.value("seq"));
        }
        QCOMPARE(sequences, expected);
        QCOMPARE(collector.queued(), 0);
        QCOMPARE(collector.droppedTotal(), 70u);
    }

    // Five times the queue's worth of events to a collector that never reads: the queue and the socket's
    // buffer stay within bounds (no notice per event); once it reads, one notice counts all the dropped.
    void stalledCollectorKeepsMemoryBounded()
    {
        StalledCollector server;
        QVERIFY(server.isListening());
        const int limit = 100;
        RemoteCollector collector([](quint64 dropped) { return "dropped " + QByteArray::number(dropped); });
        collector.open("127.0.0.1", server.serverPort(), RemoteCollector::Protocol::Tcp, limit);
        QTRY_VERIFY(collector.isConnected() && server.fd >= 0);

        const QByteArray padding(200, '.');
        qsizetype sent = 0;
        const auto send = [&] {
            ++sent;
            collector.send(QByteArray::number(sent) + padding, quint64(sent));
        };
        // Events with the loop running until the socket's buffer is full, then a flood within one pass.
        while (collector.queued() == 0 && sent < 1000000) {
            send();
            if (sent % 50 == 0)
                QCoreApplication::processEvents();
        }
        while (collector.droppedTotal() < 4 * limit && sent < 1000000)
            send();
        QCOMPARE(collector.queued(), limit);
        QVERIFY2(collector.bufferedBytes() <= RemoteCollector::SocketBufferLimit + 20 + padding.size(),
            QByteArray::number(collector.bufferedBytes()));

        QTcpSocket reader;
        QVERIFY(reader.setSocketDescriptor(std::exchange(server.fd, -1)));
        const qsizetype dropped = 4 * limit;
        QList<QByteArray> expected;
        for (qsizetype n = 1; n <= sent; ++n)
            if (n <= sent - limit - dropped || n > sent - limit)
                expected << QByteArray::number(n);
        expected.insert(sent - limit - dropped, "dropped " + QByteArray::number(dropped));
        QList<QByteArray> received;
        QByteArray stream;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                stream += reader.readAll();
                for (qsizetype space; (space = stream.indexOf(' ')) > 0;) { // octet-counted: "LEN MSG"
                    const qsizetype length = stream.left(space).toLongLong();
                    if (stream.size() < space + 1 + length)
                        break;
                    received << stream.mid(space + 1, length).replace(padding, "");
                    stream.remove(0, space + 1 + length);
                }
                return received.size() >= expected.size();
            }(),
            10000);
        QCOMPARE(received, expected);
    }
};

QTEST_GUILESS_MAIN(TestRemoteCollector)
#include "tst_RemoteCollector.moc"
