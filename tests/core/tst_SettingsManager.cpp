#include "AllowList.h"
#include "IniSettingsStore.h"
#include "OptionsModel.h"
#include "SettingsManager.h"
#include "TestFiles.h"
#include "TestStore.h"

namespace {
// The later sections as loaded: Event Log, Size, Files, Syslog, Collector, Protocol | Gap, One Alarm,
// Notify, Allow, Block, Minutes | Half Open, Stealth Flags, Port Scan, Scan Ports, Scan Window, UDP
// ports | Service, URL, Token.
QString described(IniSettingsStore& store)
{
    OptionsModel options;
    SettingsManager manager(store, options);
    manager.loadSettings();
    const Settings& s = manager.settings();
    const auto& [e, a, p, d] = std::tie(s.events, s.alarm, s.push, s.detection);
    const auto n = [](auto value) { return QString::number(int(value)); };
    return QStringList { n(e.eventLog), n(e.eventLogSizeMb), n(e.eventLogFiles), n(e.syslog),
        e.collector.text, Settings::Collector::ProtocolNames[std::size_t(e.collector.protocol)], "|",
        n(a.scanGapSeconds), n(a.oneAlarmPerScan), n(a.notifications), a.allowEntries.join(','),
        n(a.blockIntruders), n(a.blockMinutes), "|", n(d.halfOpen), n(d.stealthFlags), n(d.portScan),
        n(d.scanPorts), n(d.scanWindowSeconds), d.udpPorts.join(','), "|", p.serviceName(), p.url, p.token }
        .join(' ');
}

const QString FirstStartDetection = "| 1 1 1 8 3 69,135,137,138,139,161,162,445,514,520,1434 | none  ";
} // namespace

// The settings store: the original keys, the "Events" and "Alarm" sections and the allow list.
class TestSettingsManager : public QObject
{
    Q_OBJECT

private slots:
    // First start, written through at once, loaded, a port list edited and saved.
    void firstStartLoadAndSave()
    {
        TestStore t;
        OptionsModel options;
        SettingsManager manager(t.store(), options);
        manager.firstStartup(); // synced: a separate reader sees it
        QCOMPARE(IniSettingsStore::atPath(t.path()).read("Advance", "DDE Service"), QString("mIRC"));

        manager.loadSettings();
        QCOMPARE(options.ports(),
            QStringList({ "21", "23", "25", "53", "70", "79", "80", "137", "138", "139", "12345", "12346" }));
        const Settings& v = options.values();
        QVERIFY(v.soundsOn && manager.settings().logs);
        const QList<Flag> flags { v.hideMonitor, v.startMonitoring, v.run, v.alwaysOnTop, v.minOnStartup,
            v.useIconTray, v.useHotkeys, v.autoScrollMonitor, v.loadAtLogin, v.flashIcon, v.changeBackground,
            v.attackRun, v.copyClipboard, v.chatOn, v.rps };
        QCOMPARE(flags, QList<Flag>({ 0, 1, 0, 0, 1, 1, 0, 1, 1, 1, 0, 0, 1, 0, 0 }));

        // A shorter port list leaves the entries past its end stored.
        options.remove(OptionsModel::List::Ports, { 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11 });
        options.append(OptionsModel::List::Ports, "8080");
        manager.saveSettings();
        const auto port = [&t](const char* key) { return t.store().read("Ports", key); };
        QCOMPARE(QStringList({ port("Number"), port("1"), port("11") }), QStringList({ "1", "8080", "12346" }));
    }

    // The marker (in its exact case) says a hand-edited, broken store is ours: nothing the user wrote is
    // overwritten; otherwise every first-start value is written over it.
    void firstStartRewritesUnlessTheMarkerMatches()
    {
        for (const auto& [marker, runFile] :
            { std::pair { "sentrel ii", "None" }, { "Sentrel II", "/usr/bin/xmessage hello, world" } }) {
            QTemporaryDir dir;
            const QString path = dir.filePath("Sentrel II.ini");
            QVERIFY(writeFile(path,
                "this is not an ini line\n[%General]\nStart=" + QByteArray(marker)
                    + "\nRun%20File=/usr/bin/xmessage hello, world\n=== garbage ===\n[Display\n"));
            IniSettingsStore store = IniSettingsStore::atPath(path);
            OptionsModel options;
            SettingsManager manager(store, options);
            manager.firstStartup();
            manager.loadSettings();
            manager.saveSettings();
            const IniSettingsStore reread = IniSettingsStore::atPath(path);
            QCOMPARE(reread.read("General", "Start") + '|' + reread.read("General", "Run File"),
                "Sentrel II|" + QString(runFile));
        }
    }

    // Odd text a user may have put in the store: loading and saving writes back what the dialog
    // showed, and the file holds exactly what a store written with those values holds.
    void oddValuesSaveAsShown()
    {
        // Section, key, stored by hand, saved.
        const std::array<const char*, 4> rows[] = { { "General", "Hide Monitor", "yes", "0" },
            { "General", "Run", " 1 ", "1" }, { "Display", "Always On Top", "-5", "0" },
            { "Display", "Use Hotkeys", "", "0" }, { "Display", "Min On Startup", "2", "2" },
            { "Display", "Flash Icon", "3", "0" }, { "Display", "Copy Clipboard", "+1", "1" },
            { "General", "Logs", "yes", "False" }, { "Sounds", "On", "tRuE", "True" },
            { "General", "Run File", "", "" }, { "Advance", "DDE Service", " spaced ", " spaced " },
            { "Display", "Attack Run File", "/opt/my tools/alarm --loud \"a b\"",
                "/opt/my tools/alarm --loud \"a b\"" },
            { "Ports", "Number", "40000", "-1" }, { "Events", "Event Log", "yes", "1" },
            { "Alarm", "Block Intruders", "yes", "0" }, { "Alarm", "Notifications", " 0 ", "0" },
            { "Events", "Event Log Size", "-3", "10" }, { "Detection", "Scan Ports", " 65535 ", "65535" },
            { "Events", "Collector", " [::1]:6514 ", "[::1]:6514" },
            { "Events", "Collector Protocol", "UDP", "udp" }, { "Events", "Event Format", " ECS", "ecs" },
            { "Alarm", "Allow", " 10.0.0.0/8 ,,fd00::/8\t10.1 ", "10.0.0.0/8 fd00::/8 10.1" },
            { "Push", "Service", " Gotify", "gotify" }, { "Push", "Token", " t ", "t" },
            { "UDP Ports", "Number", "-1", "-1" } };
        TestStore edited, expected;
        OptionsModel options;
        SettingsManager manager(edited.store(), options);
        manager.firstStartup();
        SettingsManager(expected.store(), options).firstStartup();
        for (const auto& [section, key, stored, saved] : rows) {
            edited.store().write(section, key, stored);
            expected.store().write(section, key, saved);
        }
        OptionsModel seeded; // the later sections' other keys
        SettingsManager(expected.store(), seeded).loadSettings();
        manager.loadSettings();
        manager.saveSettings();
        QCOMPARE(fileBytes(edited.path()), fileBytes(expected.path()));
        // The record keeps a number outside the three states as read: neither on nor off.
        const Settings& r = manager.settings();
        QCOMPARE(QList<Flag>(
                     { r.hideMonitor, r.run, r.alwaysOnTop, r.minOnStartup, r.flashIcon, r.copyClipboard }),
            QList<Flag>({ 0, 1, -5, 2, 3, 1 }));
        // The later sections' text is parsed once, for those who run on it.
        QVERIFY(r.alarm.allow.contains(*IpAddress::parse(u"fd00::1")) && !r.alarm.allow.contains(*IpAddress::parse(u"192.0.2.1")));
        QCOMPARE(AllowList::refusalLine(r.alarm.refused),
            QString("Allow list: ignored \"10.1\" (not an IPv4 or IPv6 address)"));
        QCOMPARE(r.events.collector.host + QString::number(r.events.collector.port), QString("::16514"));
        QVERIFY(r.push.service == Settings::Push::Service::Gotify && r.detection.udpPorts.isEmpty());
    }

    // An earlier version's store gets both sections, a value already there and every earlier byte kept.
    void sectionsJoinAnExistingStoreWithoutTouchingIt()
    {
        TestStore t;
        OptionsModel options;
        SettingsManager(t.store(), options).firstStartup();
        const QByteArray before = fileBytes(t.path());
        t.store().write("Alarm", "Scan Gap", "15");
        QCOMPARE(described(t.store()), "1 10 5 1  tcp | 15 0 1  0 60 " + FirstStartDetection);
        const QByteArray after = fileBytes(t.path());
        QByteArray original = after; // without the new sections
        for (const char* section :
            { "[Alarm]\n", "[Events]\n", "[Detection]\n", "[History]\n", "[Push]\n", "[UDP%20Ports]\n" }) {
            const qsizetype start = original.indexOf(section), end = original.indexOf("\n[", start);
            if (end < 0) // the last one, with the blank line before it
                original.truncate(start - 1);
            else
                original.remove(start, end + 1 - start);
        }
        QCOMPARE(original, before);
        QVERIFY(after.contains("[Events]\nCollector=\nCollector%20Protocol=tcp\nEvent%20Format=sentrel\n"
                               "Event%20Log=1\nEvent%20Log%20Files=5\nEvent%20Log%20Size=10\nMetrics%20File=\n"
                               "Syslog=1\n"));
        QVERIFY(after.contains("[History]\nHistory%20Days=365\nHistory%20Size=200\nKeep%20History=1\nReverse%20DNS=1\n"));
        QVERIFY(after.contains("[UDP%20Ports]\n0=69\n1=135\n10=1434\n") && after.endsWith("9=520\nNumber=10\n"));
        described(t.store()); // the next start leaves the file alone
        QCOMPARE(fileBytes(t.path()), after);
    }

    // Values edited by hand; those that make no sense read as the first-start value.
    void storedValues()
    {
        const QString firstStart = "1 10 5 1  tcp | 60 0 1  0 60 " + FirstStartDetection;
        const std::pair<QString, QString> cases[] = {
            { "Events/Event Log=0;Events/Event Log Size=25;Events/Event Log Files=2;Events/Syslog=0;"
              "Events/Collector= [::1]:6514 ;Events/Collector Protocol=UDP;Alarm/Scan Gap= 86400 ;"
              "Alarm/One Alarm Per Scan=1;Alarm/Notifications=0;Alarm/Allow= 10.0.0.0/8 ;Alarm/Block Intruders=1;"
              "Alarm/Block Minutes= 1440 ;Detection/Half Open=0;Detection/Stealth Flags=0;Detection/Port Scan=0;"
              "Detection/Scan Ports= 65535 ;Detection/Scan Window=3600;UDP Ports/Number=1;UDP Ports/0=53;"
              "UDP Ports/1=7a;UDP Ports/2=9;Push/Service=NTFY;Push/URL= https://x ;Push/Token= k",
                "0 25 2 0 [::1]:6514 udp | 86400 1 0 10.0.0.0/8 1 1440 | 0 0 0 65535 3600 53,7a | ntfy "
                "https://x k" },
            { "Events/Event Log=yes;Events/Event Log Size=-3;Events/Event Log Files=many;Alarm/Scan Gap=soon;"
              "Alarm/One Alarm Per Scan=yes;Alarm/Block Intruders=yes;Alarm/Block Minutes=soon;Push/Service=pager;"
              "Events/Collector Protocol=sctp",
                firstStart },
            { "Events/Event Log Size=0;Events/Event Log Files=0;Alarm/Scan Gap=0;Alarm/Block Minutes=0;"
              "Detection/Scan Ports=65536;Detection/Scan Window=3601", firstStart },
            { "Alarm/Scan Gap=86401;Alarm/Block Minutes=1441;Detection/Scan Ports=1;Detection/Scan Window=0",
                firstStart },
            { "UDP Ports/Number=x", firstStart.section('|', 0, 1) + "| 1 1 1 8 3  | none  " },
        };
        for (const auto& [stored, expected] : cases) {
            TestStore t;
            writeValues(t.store(), stored);
            QCOMPARE(described(t.store()), expected);
        }
    }

    void collectorAddressAndAllowList()
    {
        for (const auto& [text, host, port] : { std::tuple { "192.0.2.10:514", "192.0.2.10", 514 },
                 { "logs.example.org:65535", "logs.example.org", 65535 },
                 { "[2001:db8::1]:514", "2001:db8::1", 514 }, { "2001:db8::1:514", "", 0 },
                 { "logs.example.org", "", 0 }, { "[::1]", "", 0 }, { ":514", "", 0 }, { "[]:514", "", 0 },
                 { "h:0", "", 0 }, { "h:65536", "", 0 }, { "h:syslog", "", 0 } }) {
            const Settings::Collector collector = Settings::Collector::parse(text);
            QCOMPARE(collector.isOn(), *host != 0);
            QCOMPARE(collector.problem.isEmpty(), *host != 0);
            QCOMPARE(collector.host + ':' + QString::number(collector.port),
                host + QString(':') + QString::number(port));
        }
        for (const auto& [list, peer, allowed] : { std::tuple { "192.168.1.10", "192.168.1.11", false },
                 { "10.0.0.0/8", "10.255.1.2", true }, { "10.0.0.0/8", "11.0.0.0", false },
                 { "0.0.0.0/0", "203.0.113.9", true }, { "203.0.113.9/32", "203.0.113.9", true },
                 { "fd00::/8", "fe80::1", false }, { "2001:db8::1/128", "2001:db8::1", true },
                 { "::/0", "10.0.0.1", false }, { "10.0.0.0/8", "::ffff:10.1.2.3", true },
                 { "::ffff:10.0.0.0/104", "10.9.9.9", true }, { "fe80::/10", "fe80::1%eth0", true },
                 { " 1.2.3.4 ,\t5.6.7.8,,9.9.9.9 ", "5.6.7.8", true }, { "0.0.0.0/0", "localhost", false } })
            QVERIFY2(AllowList::parse(list).contains(IpAddress::parse(QString(peer)).value_or(IpAddress())) == allowed, peer);

        // An entry for one port allows the source there alone, and never for a whole scan (port 0).
        for (const auto& [list, peer, port, allowed] : { std::tuple { "192.0.2.7:21", "192.0.2.7", 21, true },
                 { "192.0.2.7:21", "192.0.2.7", 23, false }, { "192.0.2.7:21", "192.0.2.7", 0, false },
                 { "192.0.2.0/24:21", "192.0.2.200", 21, true }, { "[2001:db8::7]:65535", "2001:db8::7", 65535, true },
                 { "[2001:db8::/32]:21", "2001:db8:1::", 22, false }, { "192.0.2.7", "192.0.2.7", 23, true } }) {
            QVERIFY2(AllowList::parse(list).contains(*IpAddress::parse(QString(peer)), port) == allowed, list);
            QCOMPARE(AllowList::parse(AllowList::entryFor(*IpAddress::parse(QString(peer)), port)).contains(
                         *IpAddress::parse(QString(peer)), port), true);
        }
        for (const auto& [entry, reason] : { std::pair { "192.0.2.7:0", "port must be 1 to 65535" },
                 { "192.0.2.7:65536", "port must be 1 to 65535" }, { "192.0.2.7:021", "port must be 1 to 65535" },
                 { "[192.0.2.7:21", "not an IPv4 or IPv6 address" }, { "[2001:db8::7]:", "port must be 1 to 65535" } })
            QCOMPARE(AllowList::check(entry), QString(reason));

        // Entries that are no address or range are named in one line with their reasons, including the
        // forms a lenient parser would take ("10.1", a leading zero, a signed prefix).
        QList<AllowList::Refusal> refused;
        const AllowList list
            = AllowList::parse("10.1 010.0.0.1,10.0.0.1 10.0.0.0/33 10.0.0.0/+8 fd00::/129", &refused);
        QVERIFY(list.size() == 1 && list.contains(IpAddress::fromIpv4(0x0a000001)));
        QCOMPARE(AllowList::refusalLine(refused),
            QString(
                "Allow list: ignored \"10.1\" (not an IPv4 or IPv6 address), \"010.0.0.1\" (not an IPv4 or "
                "IPv6 address), \"10.0.0.0/33\" (prefix length must be 0 to 32), \"10.0.0.0/+8\" (prefix "
                "length must be 0 to 32), \"fd00::/129\" (prefix length must be 0 to 128)"));
        QCOMPARE(AllowList::check(" /8 "), QString("not an IPv4 or IPv6 address"));
    }
};

QTEST_GUILESS_MAIN(TestSettingsManager)
#include "tst_SettingsManager.moc"
