#include "Event.h"
#include "EventFormat.h"
#include "EventOutputs.h"
#include "Recorder.h"
#include "Rfc5424.h"
#include "SystemLog.h"
#include "TestFiles.h"

#include <sys/stat.h>

namespace {
// 2026-03-01 14:05:09.042 two hours east of UTC.
const QDateTime FixedTime(QDate(2026, 3, 1), QTime(14, 5, 9, 42), Qt::OffsetFromUTC, 2 * 3600);

Event fixed(Event event, quint64 sequence = 7)
{
    event.time = FixedTime;
    event.sequence = sequence;
    return event;
}

struct Lines final : SystemLog
{
    void open() override { }
    void close() override { }
    quint64 write(Level, const QByteArray& line) override { return written << line, 0; }
    QList<QByteArray> written;
};

// A Prometheus text file read as the exposition format has it: family after family, each with its
// HELP and TYPE lines once, then its samples: valid names, quoted label values, no series twice.
// The samples by "name{labels}"; empty when anything breaks a rule.
QMap<QString, double> exposition(const QByteArray& text)
{
    static const QRegularExpression family(R"(# HELP ([a-zA-Z_:][\w:]*) [^\n]+\n# TYPE \1 (?:counter|gauge)\n)"
                                           R"(((?:\1(?:\{\w+="[^"\\\n]*"(?:,\w+="[^"\\\n]*")*\})? [\d.e+-]+\n)*))");
    QMap<QString, double> samples;
    QStringList names;
    qsizetype end = 0;
    for (const QRegularExpressionMatch& m : family.globalMatch(QString::fromUtf8(text))) {
        if (m.capturedStart() != end || names.contains(m.captured(1)))
            return {};
        names << m.captured(1);
        end = m.capturedEnd();
        for (const QString& sample : m.captured(2).split('\n', Qt::SkipEmptyParts)) {
            if (samples.contains(sample.section(' ', 0, 0)))
                return {};
            samples[sample.section(' ', 0, 0)] = sample.section(' ', 1).toDouble();
        }
    }
    return end == text.size() ? samples : QMap<QString, double>();
}
} // namespace

// The records outside programs read: the JSON line, the system log's summary and the RFC 5424
// message, all from the same event.
class TestEventRecords : public QObject
{
    Q_OBJECT

private slots:
    // Out of the class, after it: moc cannot read raw strings.
    void jsonRecordPerKind();
    void syslogMessage();
    void headerFieldsAndFraming();
    void ecsRecordPerKind();
    void ecsOutputsAndMetricsFile();
};

void TestEventRecords::jsonRecordPerKind()
{
    Event udpPort = Event::portUnguarded("137", 137, Event::Reason::NeedsPrivileges);
    udpPort.udp = true;
    // The event and its JSON object without time, seq and host. The kinds and fields the system log's
    // table below covers are left out: both take them from one list. The stealth detections' names
    // are checked against real scans by stealth-scan-test.sh.
    const std::pair<Event, const char*> rows[] {
        { Event::intrusion("192.0.2.7", 51234, 23, false),
            R"({"event":"intrusion","address":"192.0.2.7","family":"ipv4","source_port":51234,"port":23,
                "sentinel":false,"detection":"connect","spoofable":false})" },
        { Event::intrusion("2001:db8::42", 1, 40123, true),
            R"({"event":"intrusion","address":"2001:db8::42","family":"ipv6","source_port":1,"port":40123,
                "sentinel":true,"detection":"connect","spoofable":false})" },
        { Event::allowed("192.0.2.8", 53, 137, false, Event::Detection::Udp),
            R"({"event":"allowed","address":"192.0.2.8","family":"ipv4","source_port":53,"port":137,
                "sentinel":false,"detection":"udp","spoofable":true})" },
        { Event::portScan(3, "2001:db8::9", "1,2,3", 8, true, false),
            R"({"event":"port_scan","address":"2001:db8::9","family":"ipv6","state":"started","incident":3,
                "port_count":8,"ports":"1,2,3","spoofable":true})" },
        { Event::portScan(0, "192.0.2.9", "80", 1, false, true), // from an allowed source
            R"({"event":"port_scan","address":"192.0.2.9","family":"ipv4","state":"ended","port_count":1,
                "ports":"80","spoofable":false})" },
        { Event::flood("udp", 12345, 12001, "203.0.113.9", 4000, 137),
            R"({"event":"flood","detection":"udp","probes":12345,"sources":12001,"address":"203.0.113.9",
                "family":"ipv4","source_port":4000,"port":137,"spoofable":true})" },
        { Event::now(Event::Kind::MonitoringStarted), R"({"event":"monitoring_started"})" },
        { Event::now(Event::Kind::MonitoringStopped), R"({"event":"monitoring_stopped"})" },
        { Event::portUnguarded("8080", 8080, Event::Reason::InUse),
            R"({"event":"port_unguarded","entry":"8080","port":8080,"reason":"in_use"})" },
        { udpPort,
            R"({"event":"port_unguarded","entry":"137","port":137,"reason":"needs_privileges","protocol":"udp"})" },
        { Event::portUnguarded("7x\"", 0, Event::Reason::InvalidPort), // not a port: no port field
            R"({"event":"port_unguarded","entry":"7x\"","reason":"invalid_port"})" },
        { Event::networkChanged(true), R"({"event":"network_changed","state":"connected"})" },
        // A folder name may hold anything a file name can: quotes, backslashes, controls, non-ASCII.
        { Event::programStarted("2.0", "/home/a \"b\"\\c\td\x01\xc3\xa9"),
            R"({"event":"program_started","version":"2.0","program_folder":"/home/a \"b\"\\c\td\u0001\u00e9"})" },
    };
    for (const auto& [event, fields] : rows) {
        const QByteArray line = EventFormat("box \"1\"").jsonLine(fixed(event));
        // One line; field order is part of the format: time, seq, event and host lead every line.
        QVERIFY2(line.endsWith("}\n") && line.count('\n') == 1
                && line.startsWith("{\"time\":\"2026-03-01T14:05:09.042+02:00\",\"seq\":7,\"event\":"),
            line.constData());
        QJsonObject expected = QJsonDocument::fromJson(fields).object();
        expected["time"] = "2026-03-01T14:05:09.042+02:00";
        expected["seq"] = 7;
        expected["host"] = "box \"1\"";
        QCOMPARE(QJsonDocument::fromJson(line).object(), expected);
    }
}

void TestEventRecords::syslogMessage()
{
    // The event, the message after "<PRI>1 TIMESTAMP host sentrel 42 " and the local system log's line.
    // Facility 10 (authpriv): intrusions warn (84), changes of what is guarded notice (85), the rest
    // inform (86).
    const std::tuple<Event, QByteArray, QByteArray> rows[] {
        { fixed(Event::intrusion("::ffff:192.0.2.7", 4242, 23, false)),
            "<84>|intrusion [sentrel@32473 seq=\"7\" address=\"::ffff:192.0.2.7\" family=\"ipv6\" "
            "source_port=\"4242\" port=\"23\" sentinel=\"false\" detection=\"connect\" spoofable=\"false\"] ",
            "event=intrusion address=::ffff:192.0.2.7 family=ipv6 source_port=4242 port=23 sentinel=false "
            "detection=connect spoofable=false" },
        { fixed(Event::portScan(2, "192.0.2.9", "7,9", 2, true, true)),
            "<84>|port_scan [sentrel@32473 seq=\"7\" address=\"192.0.2.9\" family=\"ipv4\" state=\"ended\" "
            "incident=\"2\" port_count=\"2\" ports=\"7,9\" spoofable=\"true\"] ",
            "event=port_scan address=192.0.2.9 family=ipv4 state=ended incident=2 port_count=2 ports=7,9 "
            "spoofable=true" },
        { fixed(Event::portUnguarded(QString::fromUtf8("a]b\"c\\d e\u00e9]"), 0, Event::Reason::InvalidPort),
              9),
            "<85>|port_unguarded [sentrel@32473 seq=\"9\" entry=\"a\\]b\\\"c\\\\d e\xc3\xa9\\]\" "
            "reason=\"invalid_port\"] ",
            "event=port_unguarded entry=\"a]b\\\"c\\\\d e\xc3\xa9]\" reason=invalid_port" },
        { fixed(Event::networkChanged(false)),
            "<85>|network_changed [sentrel@32473 seq=\"7\" state=\"disconnected\"] ",
            "event=network_changed state=disconnected" },
        { fixed(Event::programStarted("", "/opt/x")),
            "<86>|program_started [sentrel@32473 seq=\"7\" version=\"\" program_folder=\"/opt/x\"] ",
            "event=program_started version=\"\" program_folder=/opt/x" },
        { fixed(Event::now(Event::Kind::ProgramExited)), "<86>|program_exited [sentrel@32473 seq=\"7\"] ",
            "event=program_exited" },
    };
    const EventFormat format("box");
    for (const auto& [event, message, summary] : rows) {
        const QList<QByteArray> parts = message.split('|');
        QCOMPARE(Rfc5424::message(event, format, 10, 42),
            parts[0] + "1 2026-03-01T14:05:09.042+02:00 box sentrel 42 " + parts[1] + summary);
        QCOMPARE(format.summary(event), summary);
    }
}

void TestEventRecords::headerFieldsAndFraming()
{
    // Header fields allow printable ASCII only, no blanks, and never nothing.
    QCOMPARE(Rfc5424::headerField("my box\xc3\xa9.lan", 255), QByteArray("mybox.lan"));
    QCOMPARE(Rfc5424::headerField(" \t", 255), QByteArray("-"));
    QCOMPARE(Rfc5424::headerField(QString(300, 'h'), 255).size(), 255);
    QCOMPARE(Rfc5424::message(fixed(Event::now(Event::Kind::ProgramExited)), EventFormat(""), 3, 1).left(40),
        QByteArray("<30>1 2026-03-01T14:05:09.042+02:00 - se"));

    // The frame counts octets, not characters.
    QCOMPARE(Rfc5424::octetCounted("\xc3\xa9t\xc3\xa9"), QByteArray("5 \xc3\xa9t\xc3\xa9"));
    QCOMPARE(Rfc5424::octetCounted(QByteArray(1234, 'x')).left(5), QByteArray("1234 "));

    QCOMPARE(Rfc5424::droppedMessage(17, "2026-03-01T14:05:09.042+02:00", EventFormat("box"), 10, 42),
        QByteArray("<84>1 2026-03-01T14:05:09.042+02:00 box sentrel 42 events_dropped "
                   "[sentrel@32473 dropped=\"17\"] event=events_dropped dropped=17"));

    // UTC as an offset, like every other zone.
    QCOMPARE(EventFormat::timestamp(QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5), Qt::UTC)),
        QByteArray("2026-01-02T03:04:05.000+00:00"));
}

void TestEventRecords::ecsRecordPerKind()
{
    EventFormat format("box");
    format.setFormat(Settings::Events::Format::Ecs);
    Event incident = Event::incidentEnded(4, "fe80::1%eth0", FixedTime.addSecs(-60), FixedTime, "21,22", 5);
    // event.kind category (IDS: intrusion_detection,network) type action (start) | source.ip port >
    // destination.port | network | rule | technique.
    const std::pair<Event, QString> rows[] {
        { Event::intrusion("192.0.2.7", 51234, 23, false),
            "alert IDS connection,denied intrusion | 192.0.2.7 51234 > 23 | tcp ipv4 ingress | tripwire |" },
        { Event::intrusion("2001:db8::42", 1, 40123, true, Event::Detection::HalfOpen),
            "alert IDS denied intrusion | 2001:db8::42 1 > 40123 | tcp ipv6 ingress | random_port_sentinel |" },
        { Event::intrusion("192.0.2.7", 9, 0, false, Event::Detection::Fragment),
            "alert IDS denied intrusion | 192.0.2.7 > | ipv4 ingress | tripwire |" },
        { Event::allowed("192.0.2.8", 53, 137, false, Event::Detection::Udp),
            "event IDS allowed allowed | 192.0.2.8 53 > 137 | udp ipv4 ingress | |" },
        { Event::portScan(3, "2001:db8::9", "1,2,3", 8, true, false),
            "alert IDS info port_scan | 2001:db8::9 > | ipv6 ingress | port_scan | T1046" },
        { Event::portScan(3, "192.0.2.9", "80", 1, false, true),
            "event IDS info port_scan | 192.0.2.9 > | ipv4 ingress | port_scan | T1046" },
        { Event::flood("udp", 12345, 12001, "203.0.113.9", 4000, 137),
            "alert IDS denied flood | 203.0.113.9 4000 > 137 | udp ipv4 ingress | flood |" },
        { incident, "event IDS info incident_ended 2026-03-01T14:04:09.042+02:00 | fe80::1 > | ipv6 ingress | |" },
        { Event::blocked("192.0.2.7", 60, true), "event network denied blocked | 192.0.2.7 > | ipv4 ingress | |" },
        { Event::portUnguarded("80", 80, Event::Reason::InUse), "event configuration info port_unguarded | > | | |" },
        { Event::programStarted("2.0", "/opt/x"), "event process start program_started | > | | |" },
    };
    const auto text = [](const QJsonValue& v) {
        const QString joined = v.isArray() ? v.toVariant().toStringList().join(',') : v.toVariant().toString();
        return joined == "intrusion_detection,network" ? "IDS" : joined;
    };
    for (const auto& [event, expected] : rows) {
        const QByteArray line = format.jsonLine(fixed(event));
        QVERIFY2(line.endsWith("}\n") && line.count('\n') == 1, line.constData());
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        const auto at = [&o](const QString& path) {
            QJsonValue v = o;
            for (const QString& part : path.split('.'))
                v = v[part];
            return v;
        };
        QStringList digest;
        for (const QString& path :
            QString("@timestamp ecs.version host.name observer.type event.kind event.category event.type "
                    "event.action event.start | source.ip source.port > destination.port | network.transport "
                    "network.type network.direction | rule.name | threat.technique.id")
                .split(' ')) {
            const QString value = path.size() == 1 ? path : text(at(path));
            if (!value.isEmpty())
                digest << value;
        }
        QCOMPARE(digest.join(' '), "2026-03-01T14:05:09.042+02:00 8.11.0 box ids " + expected);
        // Numbers as numbers; every field of the default format under "sentrel".
        QVERIFY(at("event.sequence").isDouble() && at("event.severity").isDouble()
            && (at("source.port").isUndefined() || at("source.port").isDouble()));
        QJsonObject own = QJsonDocument::fromJson(EventFormat("box").jsonLine(fixed(event))).object();
        for (const char* shared : { "time", "seq", "event", "host" })
            own.remove(shared);
        QCOMPARE(o["sentrel"].toObject(), own);
        QCOMPARE(format.summary(fixed(event)) + '\n', line);
    }
}

// Through the outputs: every record in the ECS format, the same text in the file and the system
// log; the metrics file counts them, rewritten whole only when a count changed.
void TestEventRecords::ecsOutputsAndMetricsFile()
{
    QTemporaryDir dir;
    Recorder status;
    Lines syslog;
    EventOutputs outputs(status, syslog);
    outputs.configure({ .format = Settings::Events::Format::Ecs, .metricsFile = "m.prom" }, dir.path());
    using enum Event::Detection;
    for (const auto& [port, sentinel, detection] :
        { std::tuple { 23, false, Connect }, { 23, false, Fin }, { 137, false, Udp }, { 40000, true, Connect } })
        outputs.record(Event::intrusion("192.0.2.7", 4000, port, sentinel, detection));
    outputs.record(Event::portScan(1, "192.0.2.7", "23,24", 8, false, false));
    outputs.record(Event::portScan(1, "192.0.2.7", "23,24", 8, false, true));
    outputs.record(Event::blocked("192.0.2.7", 60, true));
    outputs.record(Event::allowed("192.0.2.9", 1, 23, false));
    for (const int probes : { 500, 20 })
        outputs.record(Event::flood("half_open", probes, probes, "198.51.100.1", 1, 23));
    outputs.flush();
    const QList<QByteArray> lines = fileBytes(dir.filePath("events.jsonl")).split('\n');
    QCOMPARE(lines.size(), 11);
    for (int i = 0; i < 10; ++i)
        QVERIFY2(lines[i] == syslog.written[i] && lines[i].startsWith("{\"@timestamp\""), lines[i].constData());

    const QString path = dir.filePath("m.prom");
    const QByteArray text = fileBytes(path);
    const QMap<QString, double> m = exposition(text);
    QCOMPARE(m.size(), 15);
    QVERIFY(!text.contains("192.0.2") && !QFile::exists(path + ".tmp"));
    for (const auto& [series, value] : { std::pair { "sentrel_detections_total{detection=\"connect\"}", 2 },
             { "sentrel_detections_total{detection=\"fin\"}", 1 }, { "sentrel_detections_total{detection=\"xmas\"}", 0 },
             { "sentrel_port_intrusions_total{port=\"23\",transport=\"tcp\"}", 2 },
             { "sentrel_port_intrusions_total{port=\"137\",transport=\"udp\"}", 1 },
             { "sentrel_port_intrusions_total{port=\"sentinel\",transport=\"tcp\"}", 1 },
             { "sentrel_port_scans_total", 1 }, { "sentrel_blocked_total", 1 }, { "sentrel_allowed_total", 1 },
             { "sentrel_folded_probes_total{kind=\"half_open\"}", 520 } })
        QVERIFY2(m.value(series, -1) == value, series);
    QVERIFY(std::abs(m["sentrel_start_time_seconds"] - QDateTime::currentSecsSinceEpoch()) < 60);

    // Unchanged counts leave the file alone; a change replaces it; a folder that is not there is
    // said once; the ports are bounded; turning it off removes the file.
    struct stat before {}, after {};
    ::stat(QFile::encodeName(path), &before);
    outputs.record(Event::now(Event::Kind::MonitoringStopped));
    outputs.flush();
    ::stat(QFile::encodeName(path), &after);
    QCOMPARE(after.st_ino, before.st_ino);
    outputs.record(Event::blocked("192.0.2.8", 60, true));
    outputs.flush();
    ::stat(QFile::encodeName(path), &after);
    QVERIFY(exposition(fileBytes(path)).value("sentrel_blocked_total") == 2 && after.st_ino != before.st_ino);
    outputs.metrics().open(dir.filePath("none/m.prom"));
    outputs.record(Event::blocked("192.0.2.9", 60, true));
    outputs.flush();
    QCOMPARE(status.lines().filter("Metrics file: cannot write").size(), 1);
    outputs.configure({ .format = Settings::Events::Format::Ecs, .metricsFile = "m.prom" }, dir.path());
    for (int port = 1; port <= 1100; ++port) // past the bound, ports share one series
        outputs.record(Event::intrusion("192.0.2.7", 1, port, false));
    outputs.flush();
    QCOMPARE(exposition(fileBytes(path)).keys().filter("sentrel_port_intrusions_total").size(), 1025);
    outputs.configure({}, dir.path());
    QVERIFY(!QFile::exists(path));
}

QTEST_GUILESS_MAIN(TestEventRecords)
#include "tst_EventRecords.moc"
