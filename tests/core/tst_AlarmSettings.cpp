#include "AlarmSettings.h"
#include "AllowList.h"
#include "EventSettings.h"
#include "OptionsModel.h"
#include "SettingsManager.h"
#include "TestStore.h"

#include <QFile>
#include <QtTest>

namespace {
QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Cuts "[name]" and its keys out of an ini text and returns them.
QByteArray takeSection(QByteArray& text, const char* name)
{
    const qsizetype start = text.indexOf(QByteArray("[") + name + "]\n");
    if (start < 0)
        return {};
    const qsizetype next = text.indexOf("\n[", start);
    const qsizetype end = next < 0 ? text.size() : next + 1;
    const QByteArray section = text.mid(start, end - start).trimmed();
    text.remove(start, end - start);
    return section;
}

// Both sections as read, one line: Event Log, Size, Files, Syslog, Collector, Protocol | Scan Gap,
// One Alarm Per Scan, Notifications, Allow.
QString described(IniSettingsStore& store)
{
    const EventSettings e = EventSettings::load(store);
    const AlarmSettings a = AlarmSettings::load(store);
    return QStringList { e.eventLog ? "1" : "0", QString::number(e.eventLogSizeMb),
        QString::number(e.eventLogFiles), e.syslog ? "1" : "0", e.collector, e.collectorProtocol, "|",
        QString::number(a.scanGapSeconds), a.oneAlarmPerScan ? "1" : "0", a.notifications ? "1" : "0",
        a.allow }
        .join(' ');
}
} // namespace

// The stored "Events" and "Alarm" sections, and the allow list the latter holds.
class TestAlarmSettings : public QObject
{
    Q_OBJECT

private slots:
    // A store written by an earlier version: each section arrives with its first-start values, a
    // value already there stays, and every original line stays as it was, in its place.
    void sectionsJoinAnExistingStoreWithoutTouchingIt()
    {
        TestStore t;
        OptionsModel options;
        SettingsManager(t.store(), options).firstStartup();
        const QByteArray before = fileBytes(t.path());
        t.store().write("Alarm", "Scan Gap", "15");

        QCOMPARE(described(t.store()), QString("1 10 5 1  tcp | 15 0 1 "));
        QCOMPARE(t.keys().size(), 38 + 6 + 4);
        const QByteArray after = fileBytes(t.path());
        QByteArray original = after;
        QCOMPARE(takeSection(original, "Events"),
            QByteArray(
                "[Events]\nCollector=\nCollector%20Protocol=tcp\nEvent%20Log=1\nEvent%20Log%20Files=5\n"
                "Event%20Log%20Size=10\nSyslog=1"));
        QVERIFY(!takeSection(original, "Alarm").isEmpty());
        QCOMPARE(original, before); // byte for byte
        // The next start finds everything in place and leaves the file alone.
        described(t.store());
        QCOMPARE(fileBytes(t.path()), after);

        AlarmSettings edited = AlarmSettings::load(t.store());
        edited.oneAlarmPerScan = true;
        edited.allow = " 10.0.0.0/8, fd00::/8 ";
        edited.notifications = false;
        edited.save(t.store());
        QCOMPARE(described(t.store()), QString("1 10 5 1  tcp | 15 1 0 10.0.0.0/8, fd00::/8"));
    }

    void handEditedValues_data()
    {
        QTest::addColumn<QString>("stored"); // "Section/Key=value;..."
        QTest::addColumn<QString>("expected"); // as described()
        const auto row = [](const char* name, const char* stored, const char* expected) {
            QTest::newRow(name) << QString(stored) << QString(expected);
        };
        row("all changed",
            "Events/Event Log=0;Events/Event Log Size=25;Events/Event Log Files=2;Events/Syslog=0;"
            "Events/Collector= [::1]:6514 ;Events/Collector Protocol=UDP;Alarm/Scan Gap= 5 ;"
            "Alarm/One Alarm Per Scan=1;Alarm/Notifications=0",
            "0 25 2 0 [::1]:6514 udp | 5 1 0 ");
        row("nonsense reads as first-start values",
            "Events/Event Log=yes;Events/Event Log Size=-3;Events/Event Log Files=many;Alarm/Scan Gap=soon;"
            "Alarm/One Alarm Per Scan=yes",
            "1 10 5 1  tcp | 60 0 1 ");
        row("zero is not a count or a gap",
            "Events/Event Log Size=0;Events/Event Log Files=0;Alarm/Scan Gap=0", "1 10 5 1  tcp | 60 0 1 ");
        row("negative gap", "Alarm/Scan Gap=-5", "1 10 5 1  tcp | 60 0 1 ");
        row("gap over a day", "Alarm/Scan Gap=86401", "1 10 5 1  tcp | 60 0 1 ");
        row("gap of a day", "Alarm/Scan Gap=86400", "1 10 5 1  tcp | 86400 0 1 ");
    }
    void handEditedValues()
    {
        QFETCH(QString, stored);
        QFETCH(QString, expected);
        TestStore t;
        for (const QString& s : stored.split(';'))
            t.store().write(s.section('/', 0, 0), s.section('/', 1).section('=', 0, 0), s.section('=', 1));
        QCOMPARE(described(t.store()), expected);
    }

    void collectorAddress_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("host"); // empty: rejected
        QTest::addColumn<int>("port");
        const auto row = [](const char* name, const char* text, const char* host, int port) {
            QTest::newRow(name) << QString(text) << QString(host) << port;
        };
        row("ipv4", "192.0.2.10:514", "192.0.2.10", 514);
        row("name", "logs.example.org:6514", "logs.example.org", 6514);
        row("ipv6 in brackets", "[2001:db8::1]:514", "2001:db8::1", 514);
        for (const char* rejected : { "2001:db8::1:514", "logs.example.org", "[::1]", ":514", "[]:514", "h:0",
                 "h:65536", "h:syslog" })
            row(rejected, rejected, "", 0);
    }
    void collectorAddress()
    {
        QFETCH(QString, text);
        QFETCH(QString, host);
        QFETCH(int, port);
        QString gotHost;
        int gotPort = 0;
        QCOMPARE(EventSettings::splitCollector(text, &gotHost, &gotPort), !host.isEmpty());
        QCOMPARE(gotHost, host);
        QCOMPARE(gotPort, port);
    }

    void allowListParsesAndMatches_data()
    {
        QTest::addColumn<QString>("list");
        QTest::addColumn<QString>("peer");
        QTest::addColumn<bool>("allowed");
        const auto row = [](const char* name, const char* list, const char* peer, bool allowed) {
            QTest::newRow(name) << QString(list) << QString(peer) << allowed;
        };
        row("single v4", "192.168.1.10", "192.168.1.10", true);
        row("single v4, neighbour", "192.168.1.10", "192.168.1.11", false);
        row("v4 range", "10.0.0.0/8", "10.255.1.2", true);
        row("v4 range edge", "10.0.0.0/8", "11.0.0.0", false);
        row("host bits set in the range", "192.168.1.77/24", "192.168.1.3", true);
        row("/0 takes every v4", "0.0.0.0/0", "203.0.113.9", true);
        row("/32", "203.0.113.9/32", "203.0.113.8", false);
        row("v6 range", "fd00::/8", "fd12:3456::1", true);
        row("v6 range edge", "fd00::/8", "fe80::1", false);
        row("v6 /128", "2001:db8::1/128", "2001:db8::1", true);
        row("v6 /0 does not take v4", "::/0", "10.0.0.1", false);
        row("mapped peer, v4 range", "10.0.0.0/8", "::ffff:10.1.2.3", true);
        row("mapped peer, other range", "10.0.0.0/8", "::ffff:192.0.2.1", false);
        row("mapped entry, v4 peer", "::ffff:10.0.0.0/104", "10.9.9.9", true);
        row("link-local peer with its interface", "fe80::/10", "fe80::1%eth0", true);
        row("blanks and commas", " 1.2.3.4 ,\t5.6.7.8,,9.9.9.9 ", "5.6.7.8", true);
        row("invalid entries skipped", "bogus 10.0.0.1/33 10.0.0.1", "10.0.0.1", true);
        row("empty list", "", "127.0.0.1", false);
        row("peer not an address", "0.0.0.0/0", "localhost", false);
    }
    void allowListParsesAndMatches()
    {
        QFETCH(QString, list);
        QFETCH(QString, peer);
        QFETCH(bool, allowed);
        QCOMPARE(AllowList::parse(list).contains(peer), allowed);
    }

    void invalidEntriesAreNamedWithTheirReason_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("reason"); // empty: valid
        const auto row = [](const char* entry, const char* reason) {
            QTest::newRow(entry) << QString(entry) << QString(reason);
        };
        row("192.168.1.10", "");
        row("fd00::/8", "");
        for (const char* entry : { "10.1", "010.0.0.1", "0x1.2.3.4", "256.1.1.1", "backup.lan", "/8" })
            row(entry, "not an IPv4 or IPv6 address");
        for (const char* entry : { "10.0.0.0/33", "10.0.0.0/x", "10.0.0.0/+8", "10.0.0.0/" })
            row(entry, "prefix length must be 0 to 32");
        row("fd00::/129", "prefix length must be 0 to 128");
    }
    void invalidEntriesAreNamedWithTheirReason()
    {
        QFETCH(QString, entry);
        QFETCH(QString, reason);
        QCOMPARE(AllowList::check(entry), reason);
    }

    void refusalsMakeOneStatusLine()
    {
        QList<AllowList::Refusal> refused;
        QCOMPARE(AllowList::parse("10.0.0.1 nope fd00::/200", &refused).size(), 1);
        QCOMPARE(AllowList::refusalLine(refused),
            QString("Allow list: ignored \"nope\" (not an IPv4 or IPv6 address), "
                    "\"fd00::/200\" (prefix length must be 0 to 128)"));
    }
};

QTEST_GUILESS_MAIN(TestAlarmSettings)
#include "tst_AlarmSettings.moc"
