#include "BlockRules.h"
#include "IntruderBlocker.h"
#include "Recorder.h"
#include "Settings.h"
#include "StandInBlockHelper.h"

// Which intruders may be blocked at the firewall, by hand and automatically.
class TestBlockRules : public QObject
{
    Q_OBJECT

private slots:
    void refusals()
    {
        const AllowList allow = AllowList::parse("198.51.100.0/24");
        const auto refusals = [&](const QString& address, bool forged, const BlockRules::Protected& held) {
            return BlockRules::refusal(ip(address), forged, true, allow, held) + '|'
                + BlockRules::refusal(ip(address), forged, false, allow, held);
        };
        // The machine holds 192.0.2.50 and 2001:db8::50 (and loopback, as every machine does); its
        // default routes lead through 192.0.2.1 and 2001:db8::1.
        const BlockRules::Protected kept { { ip("127.0.0.1"), ip("192.0.2.50"), ip("2001:db8::50"), ip("fe80::50%eth0") },
            { ip("192.0.2.1"), ip("2001:db8::1") } };
        // Addresses, forged, and the refusal when blocked automatically | by the user's hand.
        const std::tuple<const char*, bool, const char*> rows[] {
            { "192.0.2.7 ::ffff:192.0.2.7 2001:db8::7", false, "|" },
            { "192.0.2.7", true, "the address may be forged|" },
            { "198.51.100.9 ::ffff:198.51.100.9", false, "on the allow list|" },
            { "127.0.0.1 ::ffff:127.0.0.2 ::1 :: 0.0.0.0 0.1.2.3", false, "this machine|this machine" },
            { "192.0.2.50 2001:db8::50", false, "this machine|this machine" },
            { "169.254.1.1 fe80::50%eth0", false, "a link-local address|a link-local address" },
            { "192.0.2.1 ::ffff:192.0.2.1 2001:db8::1", false, "the default gateway|the default gateway" },
            { "224.0.0.1 240.0.0.1 255.255.255.255 ff02::1", false, "not a single host|not a single host" },
            { "host.example", false, "not an address|not an address" },
        };
        // Without the routing tables no gateway is known: nothing is blocked automatically.
        BlockRules::Protected unknown = kept;
        unknown.routesRead = false;
        QCOMPARE(refusals("192.0.2.7", false, unknown), QString("the default gateway is unknown|"));
        for (const auto& [addresses, forged, expected] : rows)
            for (const QString& address : QString(addresses).split(' '))
                QCOMPARE(address + ' ' + refusals(address, forged, kept), address + ' ' + expected);
    }

    // A burst larger than the firewall may hold, within one pass of the event loop: it goes to the
    // helper in calls of 64, every address the bound leaves room for is blocked, and the rest are
    // counted and said in one line. The helper is a stand-in that takes every address it is sent.
    void burstBeyondTheBound()
    {
        QTemporaryDir dir;
        const QString helper = dir.filePath("sentrel-block");
        QVERIFY(writeStandInBlockHelper(helper));
        Recorder out;
        FirewallBlocker firewall(helper);
        IntruderBlocker blocker(firewall, out, out);
        Settings::Alarm settings;
        settings.blockIntruders = true;
        blocker.configure(settings);
        // All in one turn of the event loop, before the first call leaves: 512 wait, 88 are counted;
        // the firewall keeps the newest 256, the oldest making way (a delete ahead of each block
        // once it is full).
        IntruderRecord intruder;
        const Event record;
        for (int i = 1; i <= 600; ++i) {
            intruder.address = ip(QString("2001:db8::1:%1").arg(i, 0, 16));
            blocker.intrusion({ intruder, record });
        }
        QTRY_COMPARE_WITH_TIMEOUT(out.lines().filter("more intruders").size(), 1, 30000);
        QCOMPARE(out.lines().filter("Blocked 2001:db8::1:").size(), 512);
        QCOMPARE(out.lines().filter("Unblocked 2001:db8::1:").size(), 256);
        QCOMPARE(out.lines().filter("more intruders"), QStringList { "Could not block 88 more intruders: too many at once" });
        QCOMPARE(blocker.entries().size(), 256);
        QCOMPARE(fileBytes(helper + ".calls"), "0 " + QByteArray("64 ").repeated(12));
    }
};

QTEST_GUILESS_MAIN(TestBlockRules)
#include "tst_BlockRules.moc"
