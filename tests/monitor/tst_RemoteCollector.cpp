#include "Event.h"
#include "EventFormat.h"
#include "EventOutputs.h"
#include "RemoteCollector.h"
#include "Rfc5424.h"
#include "StatusReporter.h"
#include "SystemLog.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

// Against a real collector: Debian's rsyslogd, started by tests/support/loopback-rsyslogd.sh on
// free loopback ports with a configuration of its own that writes every message's parsed fields
// to a file.
class TestRemoteCollector : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void thousandIntrusionsArriveInOrder_data();
    void thousandIntrusionsArriveInOrder();
    void collectorAwayDropsOldestAndSaysHowMany();

private:
    bool startCollector();
    QList<QJsonObject> received() const;
    QList<QJsonObject> waitForReceived(int count) const;

    std::unique_ptr<QTemporaryDir> m_dir;
    int m_tcpPort = 0;
    int m_udpPort = 0;
};

namespace {
struct Quiet final : StatusReporter, SystemLog
{
    void addStatusLine(const QString&) override { }
    void setStatusText(const QString&) override { }
    void open() override { }
    void close() override { }
    void write(Level, const QByteArray&) override { }
};

int runScript(const QStringList& arguments)
{
    return QProcess::execute(QStringLiteral(SENTREL_RSYSLOGD_SCRIPT), arguments);
}

// The structured data's parameters, unescaped.
QHash<QString, QString> params(const QString& sd)
{
    QHash<QString, QString> values;
    static const QRegularExpression param(R"re((\w+)="((?:[^"\\]|\\.)*)")re");
    for (const QRegularExpressionMatch& m : param.globalMatch(sd))
        values[m.captured(1)] = m.captured(2).replace(QRegularExpression(R"(\\(.))"), "\\1");
    return values;
}
} // namespace

void TestRemoteCollector::init()
{
    if (QStandardPaths::findExecutable("rsyslogd", { "/usr/sbin", "/sbin" }).isEmpty())
        QSKIP("rsyslogd is not installed (Debian package rsyslog, scripts/install-deps.sh --test)");
    m_dir = std::make_unique<QTemporaryDir>();
    QTcpServer tcp;
    QUdpSocket udp;
    QVERIFY(tcp.listen(QHostAddress::LocalHost) && udp.bind(QHostAddress::LocalHost, 0));
    m_tcpPort = tcp.serverPort();
    m_udpPort = udp.localPort();
    tcp.close();
    udp.close();
    QVERIFY(startCollector());
}

void TestRemoteCollector::cleanup()
{
    if (m_dir)
        runScript({ "stop", m_dir->path() });
    m_dir.reset();
}

bool TestRemoteCollector::startCollector()
{
    return runScript({ "start", m_dir->path(), QString::number(m_tcpPort), QString::number(m_udpPort) }) == 0;
}

QList<QJsonObject> TestRemoteCollector::received() const
{
    QFile file(m_dir->filePath("messages.jsonl"));
    QList<QJsonObject> messages;
    if (!file.open(QIODevice::ReadOnly))
        return messages;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (!line.isEmpty())
            messages << QJsonDocument::fromJson(line).object();
    }
    return messages;
}

QList<QJsonObject> TestRemoteCollector::waitForReceived(int count) const
{
    QDeadlineTimer deadline(10000);
    QList<QJsonObject> messages = received();
    while (messages.size() < count && !deadline.hasExpired()) {
        QTest::qWait(20);
        messages = received();
    }
    return messages;
}

void TestRemoteCollector::thousandIntrusionsArriveInOrder_data()
{
    QTest::addColumn<QString>("protocol");
    QTest::newRow("tcp") << "tcp";
    QTest::newRow("udp") << "udp";
}

// Through the outputs as the program uses them, each intrusion from another IPv4 or IPv6 peer.
void TestRemoteCollector::thousandIntrusionsArriveInOrder()
{
    QFETCH(QString, protocol);
    Quiet quiet;
    EventOutputs outputs(quiet, quiet);
    EventSettings settings;
    settings.eventLog = false;
    settings.syslog = false;
    settings.collectorProtocol = protocol;
    settings.collector = "127.0.0.1:" + QString::number(protocol == "tcp" ? m_tcpPort : m_udpPort);
    outputs.configure(settings, m_dir->path());
    QTRY_VERIFY(outputs.collector().isConnected());

    const int count = 1000;
    for (int i = 0; i < count; ++i) {
        const QString address = i % 2 ? QString("192.0.2.%1").arg(i % 256) : QString("2001:db8::%1").arg(i, 0, 16);
        outputs.record(Event::intrusion(address, 1024 + i, 20000 + i % 7, i % 5 == 0));
        // Datagrams have no flow control: a pause now and then keeps the collector's receive
        // buffer from overflowing, which would lose messages outside this program.
        if (protocol == "udp" && i % 50 == 49)
            QTest::qWait(5);
    }

    const QList<QJsonObject> messages = waitForReceived(count);
    QCOMPARE(messages.size(), count);
    QCOMPARE(outputs.collector().droppedTotal(), 0u);
    for (int i = 0; i < count; ++i) {
        const QJsonObject& m = messages[i];
        const QHash<QString, QString> p = params(m["sd"].toString());
        const QString address = i % 2 ? QString("192.0.2.%1").arg(i % 256) : QString("2001:db8::%1").arg(i, 0, 16);
        QCOMPARE(p["seq"], QString::number(i + 1));
        QCOMPARE(m["pri"].toInt(), 84);
        QCOMPARE(m["app"].toString(), QString("sentrel"));
        QCOMPARE(m["msgid"].toString(), QString("intrusion"));
        QCOMPARE(m["procid"].toString(), QString::number(QCoreApplication::applicationPid()));
        QVERIFY(m["sd"].toString().startsWith("[sentrel@32473 "));
        QCOMPARE(p["address"], address);
        QCOMPARE(p["family"], QString(i % 2 ? "ipv4" : "ipv6"));
        QCOMPARE(p["source_port"], QString::number(1024 + i));
        QCOMPARE(p["port"], QString::number(20000 + i % 7));
        QCOMPARE(p["sentinel"], QString(i % 5 == 0 ? "true" : "false"));
        QVERIFY(m["msg"].toString().contains("event=intrusion address=" + address + " "));
    }
    QTRY_COMPARE(outputs.missing(quint64(count)), QStringList());
}

// rsyslogd stops while events keep coming: the queue keeps the newest 50, the first message
// after the gap says how many went, and everything after it arrives in order.
void TestRemoteCollector::collectorAwayDropsOldestAndSaysHowMany()
{
    const EventFormat format("box");
    const qint64 pid = QCoreApplication::applicationPid();
    RemoteCollector collector(
        [&](quint64 dropped) { return Rfc5424::droppedMessage(dropped, "2026-03-01T00:00:00.000+00:00", format, 10, pid); },
        RemoteCollector::Backoff { std::chrono::milliseconds(20), std::chrono::milliseconds(200) });
    collector.open("127.0.0.1", m_tcpPort, RemoteCollector::Protocol::Tcp, 50);
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
    QCOMPARE(waitForReceived(10).size(), 10);

    runScript({ "stop", m_dir->path() });
    QTRY_VERIFY(!collector.isConnected());
    send(120); // 11..130 while nobody listens
    QCOMPARE(collector.queued(), 50);
    QCOMPARE(collector.droppedTotal(), 70u);
    QTest::qWait(300); // a few refused reconnections
    QVERIFY(startCollector());
    QTRY_VERIFY_WITH_TIMEOUT(collector.isConnected(), 5000);
    send(10); // 131..140

    const QList<QJsonObject> messages = waitForReceived(10 + 1 + 50 + 10);
    QCOMPARE(messages.size(), 71);
    QCOMPARE(messages[10]["msgid"].toString(), QString("events_dropped"));
    QCOMPARE(params(messages[10]["sd"].toString())["dropped"], QString("70"));
    QStringList sequences;
    for (const QJsonObject& m : messages)
        sequences << params(m["sd"].toString()).value("seq", "-");
    QStringList expected;
    for (int n = 1; n <= 140; ++n) {
        if (n <= 10 || n > 80)
            expected << QString::number(n);
        if (n == 10)
            expected << "-";
    }
    QCOMPARE(sequences, expected);
    QCOMPARE(collector.queued(), 0);
    QCOMPARE(collector.droppedTotal(), 70u);
}

QTEST_GUILESS_MAIN(TestRemoteCollector)
#include "tst_RemoteCollector.moc"
