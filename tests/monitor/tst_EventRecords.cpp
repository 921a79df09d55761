#include "Event.h"
#include "EventFormat.h"
#include "Rfc5424.h"

namespace {
// 2026-03-01 14:05:09.042 two hours east of UTC.
const QDateTime FixedTime(QDate(2026, 3, 1), QTime(14, 5, 9, 42), Qt::OffsetFromUTC, 2 * 3600);

Event fixed(Event event, quint64 sequence = 7)
{
    event.time = FixedTime;
    event.sequence = sequence;
    return event;
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

QTEST_GUILESS_MAIN(TestEventRecords)
#include "tst_EventRecords.moc"
