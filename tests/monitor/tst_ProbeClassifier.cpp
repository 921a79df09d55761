#include "IntruderBlocker.h"
#include "IntrusionHandler.h"
#include "MonitorRig.h"
#include "ProbeClassifier.h"
#include "ProbeFolding.h"
#include "Settings.h"

namespace {
// Sources by short name; x is on the allow list, y on port 23 alone.
const QStringList Names { "a", "b", "c", "six", "x", "y" };
const QStringList Addresses { "192.0.2.1", "192.0.2.2", "192.0.2.3", "2001:db8::6", "198.51.100.7", "198.51.100.8" };
const auto address = [](const QString& name) { return Addresses.value(Names.indexOf(name), name); };
const auto nameOf = [](const QString& text) { return Names.value(Addresses.indexOf(text), text); };

// "1,2,3,7" as "1-3,7".
QString ranges(const QString& ports)
{
    QStringList out;
    for (const QString& port : ports.split(','))
        if (!out.isEmpty() && out.last().section('-', -1).toInt() + 1 == port.toInt())
            out.last() = out.last().section('-', 0, 0) + '-' + port;
        else
            out << port;
    return out.join(',');
}

// Each alarm's "Message: " line by detection.
const QHash<QString, QString> Messages { { "connect", "" },
    { "half_open", "half-open scan, no handshake: the address may be forged" },
    { "fin", "FIN scan, no handshake: the address may be forged" },
    { "null", "NULL scan, no flags: the address may be forged" },
    { "xmas", "Xmas scan, flags no connection sends: the address may be forged" },
    { "udp", "UDP probe: the address may be forged" },
    { "fragment", "fragmented probe: the address may be forged" } };

Settings::Detection detection(bool halfOpen, bool flags, bool scans, int ports = 8, int window = 3)
{
    return { halfOpen, flags, scans, ports, window, {} };
}

// The classifier and a real intrusion handler on one clock the test moves; guarded: 21 and 23.
struct Rig
{
    explicit Rig(Settings::Detection detection = {})
    {
        intrusions.configure({ .allow = AllowList::parse("198.51.100.7 198.51.100.8:23") });
        intrusions.addObserver(&recorder);
        intrusions.setBlocker(&blocker);
        probes.setGuarded([](int port) { return port == 21 || port == 23; });
        probes.setWatching(true);
        probes.configure(detection, std::chrono::seconds(60));
    }

    void probe(const QString& flags, const QString& source, int sourcePort, int port)
    {
        TcpProbe p { *IpAddress::parse(address(source)), quint16(sourcePort), *IpAddress::parse(u"192.0.2.100"),
            quint16(port), 0, flags.section('#', 1).toUInt() };
        for (int bit = 0; bit < 6; ++bit) // TCP's own bits
            p.flags |= flags.contains(QLatin1Char("FSRPAU"[bit])) ? std::uint8_t(1 << bit) : 0;
        p.fragment = flags.startsWith('~');
        probes.probesSeen({ p });
    }

    // "S@a:1000>21" (flags, "-" for none; "S#7": sequence number 7; "~" first for a fragmented probe),
    // "accept@a:1>21", "udp@a:1>137", "sweep@b:30001-30008" (SYNs from port 40000), "+ms" (the clock
    // moves on and the timer fires), "mark", "scans-off", "block@b", "unblock@b"; "udp:60/30" (60 datagrams
    // from 30 sources in turn; "F:", "-:" the same as FIN and NULL probes to 21), "accept:20" (20 connections
    // from one).
    QStringList run(const QString& script)
    {
        QStringList out;
        for (const QString& step : script.split(' ', Qt::SkipEmptyParts)) {
            const QString what = step.section('@', 0, 0), where = step.section('@', 1);
            const QString source = where.section(':', 0, 0), ports = where.section(':', 1);
            const int from = ports.section('>', 0, 0).section('-', 0, 0).toInt();
            const int to = ports.section('>', 1).toInt();
            if (step.startsWith('+')) {
                now += std::chrono::milliseconds(step.mid(1).toInt());
                probes.expire();
                intrusions.expireIncidents();
            } else if (step == "mark") {
                out << summary() << "mark";
            } else if (step == "scans-off") {
                probes.configure(detection(true, true, false), std::chrono::seconds(60));
            } else if (what == "block") {
                emit firewall.blocked(ip(address(source)), 3600, FirewallBlocker::Outcome::Done);
            } else if (what == "unblock") {
                emit firewall.unblocked(ip(address(source)), FirewallBlocker::Outcome::Done);
            } else if (what == "accept") {
                probes.connectionSeen(ip(address(source)), to, from);
            } else if (what == "udp") {
                probes.datagramSeen(ip(address(source)), to, from);
            } else if (!step.contains('@')) {
                const int count = step.section(':', 1).section('/', 0, 0).toInt();
                const int sources = qMax(1, step.section('/', 1).toInt());
                for (int i = 0; i < count; ++i) {
                    const QString from = QString("10.0.%1.%2").arg(i % sources / 250).arg(i % sources % 250);
                    if (step.startsWith("udp:"))
                        probes.datagramSeen(ip(from), 137, 1000 + i);
                    else if (step.startsWith("accept:"))
                        probes.connectionSeen(ip(from), 21, 1000 + i);
                    else
                        probe(step.section(':', 0, 0), from, 1000 + i, 21);
                }
            } else if (what == "sweep") {
                for (int port = from; port <= ports.section('-', 1).toInt(); ++port)
                    probe("S", source, 40000, port);
            } else {
                probe(what, source, from, to);
            }
        }
        out << summary();
        out.removeAll(QString());
        return out;
    }

    // The events since the last call; each alarm's message and the latest alarm's kind, as expected.
    QString summary()
    {
        QStringList out;
        for (; seen < recorder.events.size(); ++seen) {
            const Event& e = recorder.events[seen];
            const QString where = QString("%1:%2>%3").arg(nameOf(e.address)).arg(e.sourcePort).arg(e.port);
            const QString kind = Event::detectionName(e.detection);
            const int run = out.value(out.size() - 1).section(' ', 0, 0).toInt();
            if (e.kind == Event::Kind::Intrusion && e.address.startsWith("10.") && run > 0
                && out.last().section(' ', 1) == kind) {
                out.last() = QString("%1 %2").arg(run + 1).arg(kind);
            } else if (e.kind == Event::Kind::Intrusion) {
                out << (e.address.startsWith("10.") ? "1 " + kind : kind + ' ' + where);
            }
            if (e.kind == Event::Kind::Intrusion) {
                expectedAlerts << Messages.value(kind);
                lastAlarm = kind + QString::number(Event::isSpoofable(e.detection));
            } else if (e.kind == Event::Kind::Flood) {
                out << QString(">%1 ").arg(e.port)
                        + ProbeFolding::message({ e.folded, e.probes, e.sources, {}, 0, 0 });
                expectedAlerts << out.last().section(' ', 1);
            } else if (e.kind == Event::Kind::Unblocked) {
                out << QString("unblocked %1 after %2").arg(nameOf(e.address)).arg(e.count);
            } else if (e.kind == Event::Kind::Allowed) {
                out << "allowed " + kind + ' ' + where;
            } else if (e.kind == Event::Kind::PortScan) {
                out << QString("scan %1 %2 %3 %4%5")
                           .arg(e.scanEnded ? "ended" : "started", nameOf(e.address),
                               QString::number(e.count), ranges(e.ports), e.spoofable ? " spoofable" : "");
                if (e.scanEnded)
                    continue;
                expectedAlerts << QString("port scan: %1 ports within %2 s%3")
                                      .arg(QString::number(e.count), QString::number(window),
                                          e.spoofable ? ": the address may be forged" : "");
                lastAlarm = "port_scan" + QString::number(e.spoofable);
            }
        }
        return out.join(", ");
    }

    std::chrono::milliseconds now { 1000000 };
    Recorder recorder;
    FirewallBlocker firewall { {} };
    IntruderBlocker blocker { firewall, recorder, recorder };
    IntrusionHandler intrusions { recorder, recorder, [this] { return now; } };
    ProbeClassifier probes { intrusions, recorder, [this] { return now; } };
    std::size_t seen = 0;
    int window = 3;
    QStringList expectedAlerts;
    QString lastAlarm;
};
} // namespace

// How each probe is classified and when sources count as scanning, on a clock the test sets.
class TestProbeClassifier : public QObject
{
    Q_OBJECT

private slots:
    // Each script's events, each alarm's message, and the latest alarm's record, which the attack
    // program's environment is made from.
    void detections()
    {
        const auto row = [](const char* name, const QString& script, const QStringList& events,
                             const Settings::Detection& settings = detection(true, true, true)) {
            Rig rig(settings);
            rig.window = settings.scanWindowSeconds;
            QCOMPARE(name + (": " + rig.run(script).join(" | ")), name + (": " + events.join(" | ")));
            QStringList alerts, messages;
            for (const QString& entry : rig.recorder.log.filter("alert:"))
                alerts << entry.section('|', 2);
            QCOMPARE(alerts, rig.expectedAlerts);
            // Every alert is one status block with its message.
            for (const QString& line : rig.recorder.lines().filter("Message: "))
                messages << line.mid(9);
            QCOMPARE(messages, alerts);
            QCOMPARE(rig.recorder.lines().filter("Intruder Detected").size(), alerts.size());
            const IntruderRecord& record = rig.intrusions.intruder();
            if (!rig.lastAlarm.isEmpty())
                QCOMPARE(record.detection + QString::number(record.spoofable), rig.lastAlarm);
        };
        row("syn read seconds after its accept", "accept@a:1001>21 +4000 S@a:1001>21 +5000",
            { "connect a:1001>21" });
        row("unanswered syn: half-open at the deadline, once",
            "S@a:1000>21 +500 S@a:1000>21 +499 mark +1 +5000", { "mark", "half_open a:1000>21" });
        row("a SYN seen again after its connection was accepted is that connection",
            "S@a:1000>21 +3 accept@a:1000>21 +10 S@a:1000>21 accept@a:1001>21 +2 S@a:1001>21 +9 S@a:1001>21 "
            "+5000",
            { "connect a:1000>21, connect a:1001>21" });
        row("a new connection from the same port is not",
            "S#1@a:1000>21 accept@a:1000>21 +200 S#2@a:1000>21 +300 accept@a:1000>21 +10 S#2@a:1000>21 "
            "S#3@a:1000>21 +5000",
            { "connect a:1000>21, connect a:1000>21, half_open a:1000>21" });
        row("another source port is its own connection", "S@a:1000>21 accept@a:1002>21 +1000",
            { "connect a:1002>21, half_open a:1000>21" });
        row("unguarded ports raise nothing", "S@a:1>80 F@a:2>80 -@six:3>8080 +5000", {});
        row("flags", "-@a:1>21 F@a:2>21 FPU@a:3>23 PU@a:4>21 FA@a:5>21 R@a:6>21 SA@a:7>21 FP@six:8>21",
            { "null a:1>21, fin a:2>21, xmas a:3>23, xmas a:4>21, xmas six:8>21" });
        row("fragmented probes: to guarded ports, whatever flags they show, never waiting as SYNs",
            "~@a:1>21 ~S@six:2>23 ~A@a:3>21 ~S@a:4>80 +5000", { "fragment a:1>21, fragment six:2>23, fragment a:3>21" });
        row("allowed: recorded, never raised", "S@x:1>21 F@x:2>21 udp@x:3>137 +1000 sweep@x:1-20 +70000",
            { "allowed fin x:2>21, allowed udp x:3>137, allowed half_open x:1>21" });
        row("allowed on one port: raised on the others", "accept@y:1>23 accept@y:2>21 +1000",
            { "allowed connect y:1>23, connect y:2>21" });
        row("half-open and flags off; a connection still counts toward a scan",
            "S@a:1>21 F@a:2>21 -@a:3>23 udp@a:4>137 accept@a:5>80 ~@a:6>21 +2000",
            { "udp a:4>137, connect a:5>80, scan started a 4 21,23,137,80 spoofable" },
            detection(false, false, true, 4));
        row("sweep of unguarded ports: one alarm, one end",
            "sweep@b:30001-30008 +1000 sweep@b:30004-30010 +59999 mark +2",
            { "scan started b 8 30001-30008 spoofable", "mark", "scan ended b 10 30001-30010 spoofable" });
        row("ports leave the window", "sweep@b:1-4 +2000 sweep@b:5-7 +1001 sweep@b:8-8 +1000 sweep@b:9-9",
            {});
        row("a scan lasts through its gap, a new one starts after it",
            "sweep@b:1-8 +60000 sweep@b:9-9 +60001 sweep@b:11-18",
            { "scan started b 8 1-8 spoofable, scan ended b 9 1-9 spoofable, scan started b 8 11-18 "
              "spoofable" });
        row("connects, datagrams and probes count together",
            "accept@c:1>21 udp@c:2>137 F@c:3>23 sweep@c:40001-40005 +61000",
            { "connect c:1>21, udp c:2>137, fin c:3>23, scan started c 8 21,137,23,40001-40005 spoofable, "
              "scan ended c 8 21,137,23,40001-40005 spoofable" });
        row("connects alone prove their address; a port one window old still counts",
            "accept@c:1>21 +1000 accept@c:2>23 +61000",
            { "connect c:1>21, connect c:2>23, scan started c 2 21,23, scan ended c 2 21,23" },
            detection(true, true, true, 2, 1));
        row("one forged probe makes the scan spoofable", "-@c:3>80 accept@c:1>21",
            { "connect c:1>21, scan started c 2 80,21 spoofable" }, detection(true, true, true, 2, 1));
        row("the first 64 ports listed, all counted", "sweep@b:1000-1099 +61000",
            { "scan started b 70 1000-1063 spoofable, scan ended b 100 1000-1063 spoofable" },
            detection(true, true, true, 70));
        // Beyond the rate, detections that may be forged fold into one status block, alert and event a
        // second per kind ("50 udp": a run of one kind from the 10.0.0.0/8 sources of a bulk step, each
        // summary as its port and message); below it, and for completed connections, nothing changes.
        const QString forged = ", the addresses may be forged";
        row("below the rate nothing changes", "udp:50/50 +1000 udp:50/50 +1000", { "100 udp" });
        row("beyond it, one summary a second", "udp:60/30 +999 +1",
            { "50 udp, >137 UDP flood: 10 probes from 10 addresses" + forged });
        row("completed connections are never folded", "udp:60/60 accept:20 +1000",
            { "50 udp, 20 connect, >137 UDP flood: 10 probes from 10 addresses" + forged });
        row("a flood folds on until a second stays below the rate",
            "udp:100/100 +1000 udp:30/30 +1000 +1000 udp:5/5 +1000",
            { "50 udp, >137 UDP flood: 50 probes from 50 addresses" + forged
                + ", >137 UDP flood: 30 probes from 30 addresses" + forged + ", 5 udp" });
        row("each kind its own summary, the rate all of them together", "udp:40/40 F:20/20 -:5/5 +1000",
            { "40 udp, 10 fin, >21 FIN flood: 10 probes from 10 addresses" + forged
                + ", >21 NULL flood: 5 probes from 5 addresses" + forged });
        row("sources counted, not listed", "udp:2050/500 +1000",
            { "50 udp, >137 UDP flood: 2,000 probes from 500 addresses" + forged });
        row("one source", "udp:70/1 +1000", { "50 udp, >137 UDP flood: 20 probes from 1 address" + forged });
        // Once the firewall blocks a source, what the packet watch still sees of it is counted against
        // the block, and the unblocked record says how many; a connection that got through is still one.
        row("blocked", "block@b S@b:1000>21 +1000 F@b:1001>23 udp@b:1002>137 -@b:1003>21 accept@b:1004>21 "
            "S@a:1>21 +1000 sweep@b:30001-30010 mark unblock@b",
            { "connect b:1004>21, half_open a:1>21", "mark", "unblocked b after 5" });
        row("port scans switched off: a live scan ends, no other starts",
            "sweep@b:1-8 scans-off mark sweep@b:31-50 +61000",
            { "scan started b 8 1-8 spoofable, scan ended b 8 1-8 spoofable", "mark" });
    }

    // A flood from random sources: the tables stay at their caps, the oldest go first, each loss is
    // one status line once the flood is over, and a real scanner among them is still seen. Beyond the
    // folding's rate the half-open probes are one summary.
    void capsUnderRandomSources()
    {
        Rig rig;
        const int flood = int(PendingSyns::MaxPending) + 904;
        for (int i = 0; i < flood; ++i) {
            // Distinct addresses in 10.0.0.0/8 in no order: an odd multiplier permutes the 24 bits.
            const quint32 host = (quint32(i) * 2654435761u) & 0xffffff;
            rig.probe("S", QHostAddress(0x0a000000 | host).toString(), 1024 + i % 60000, 21);
            if (i % 500 == 0)
                rig.probe("S", "b", 40000, 50000 + i / 500);
        }
        QStringList events = rig.run(QString("+%1").arg(PendingSyns::Deadline.count()));
        QCOMPARE(rig.recorder.lines().filter("dropped"), QStringList());
        // Past the window only the scanner is left: the flood is over. The scanner's own probes kept it
        // among the newest: only random sources were evicted.
        events += rig.run("+3000");
        const QStringList dropped { "Half-open scans: 904 probes dropped, more than 4096 waiting at once",
            "Port scans: 905 sources dropped, more than 4096 at once" };
        QCOMPARE(rig.recorder.lines().filter("dropped"), dropped);
        events += rig.run("+60000");
        QCOMPARE(events.join(", ").replace(QRegularExpression("from [0-9,]+ addresses"), "from N addresses"),
            "scan started b 8 50000-50007 spoofable, 50 half_open, >21 SYN flood: 4,046 probes from N "
            "addresses, the addresses may be forged, scan ended b 10 50000-50009 spoofable");
        QCOMPARE(rig.recorder.lines().filter("dropped"), dropped);
    }
};

QTEST_GUILESS_MAIN(TestProbeClassifier)
#include "tst_ProbeClassifier.moc"
