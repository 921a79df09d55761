#include "AlarmSettings.h"
#include "AllowList.h"
#include "EventSettings.h"
#include "OptionsModel.h"
#include "SettingsManager.h"
#include "TestStore.h"

#include <QFile>
#include <QtTest>

class TestAlarmSettings : public QObject
{
    Q_OBJECT

private slots:
    void sectionJoinsAnExistingStoreWithoutTouchingIt()
    {
        TestStore t;
        OptionsModel options;
        SettingsManager(t.store(), options).firstStartup();
        EventSettings::load(t.store());
        QFile file(t.path());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray before = file.readAll();
        file.close();
        t.store().write("Alarm", "Scan Gap", "15");

        const AlarmSettings loaded = AlarmSettings::load(t.store());
        QCOMPARE(loaded.scanGapSeconds, 15); // a value already there stays
        QVERIFY(!loaded.oneAlarmPerScan && loaded.notifications && loaded.allow.isEmpty());
        QCOMPARE(t.keys().size(), 38 + 6 + 4);
        QVERIFY(file.open(QIODevice::ReadOnly));
        // The file is the old one plus the section, byte for byte.
        QByteArray after = file.readAll();
        const qsizetype start = after.indexOf("[Alarm]\n"), end = after.indexOf("\n[", start) + 1;
        QVERIFY(start >= 0 && end > start);
        QCOMPARE(after.remove(start, end - start), before);

        AlarmSettings edited = loaded;
        edited.oneAlarmPerScan = true;
        edited.allow = " 10.0.0.0/8, fd00::/8 ";
        edited.notifications = false;
        edited.save(t.store());
        const AlarmSettings reread = AlarmSettings::load(t.store());
        QVERIFY(reread.oneAlarmPerScan && !reread.notifications);
        QCOMPARE(reread.allow, QString("10.0.0.0/8, fd00::/8"));
    }

    void damagedValuesReadAsFirstStartValues_data()
    {
        QTest::addColumn<QString>("gap");
        QTest::addColumn<int>("expected");
        QTest::newRow("zero") << "0" << 60;
        QTest::newRow("negative") << "-5" << 60;
        QTest::newRow("text") << "soon" << 60;
        QTest::newRow("over a day") << "86401" << 60;
        QTest::newRow("a day") << "86400" << 86400;
        QTest::newRow("blanks") << " 5 " << 5;
    }
    void damagedValuesReadAsFirstStartValues()
    {
        QFETCH(QString, gap);
        QFETCH(int, expected);
        TestStore t;
        t.store().write("Alarm", "Scan Gap", gap);
        t.store().write("Alarm", "One Alarm Per Scan", "yes");
        QCOMPARE(AlarmSettings::load(t.store()).scanGapSeconds, expected);
        QVERIFY(!AlarmSettings::load(t.store()).oneAlarmPerScan);
    }

    void allowListParsesAndMatches_data()
    {
        QTest::addColumn<QString>("list");
        QTest::addColumn<QString>("peer");
        QTest::addColumn<bool>("allowed");
        QTest::newRow("single v4") << "192.168.1.10"
                                   << "192.168.1.10" << true;
        QTest::newRow("single v4, neighbour") << "192.168.1.10"
                                              << "192.168.1.11" << false;
        QTest::newRow("v4 range") << "10.0.0.0/8"
                                  << "10.255.1.2" << true;
        QTest::newRow("v4 range edge") << "10.0.0.0/8"
                                       << "11.0.0.0" << false;
        QTest::newRow("host bits set in the range") << "192.168.1.77/24"
                                                    << "192.168.1.3" << true;
        QTest::newRow("/0 takes every v4") << "0.0.0.0/0"
                                           << "203.0.113.9" << true;
        QTest::newRow("/32") << "203.0.113.9/32"
                             << "203.0.113.8" << false;
        QTest::newRow("v6 range") << "fd00::/8"
                                  << "fd12:3456::1" << true;
        QTest::newRow("v6 range edge") << "fd00::/8"
                                       << "fe80::1" << false;
        QTest::newRow("v6 /128") << "2001:db8::1/128"
                                 << "2001:db8::1" << true;
        QTest::newRow("v6 /0 does not take v4") << "::/0"
                                                << "10.0.0.1" << false;
        QTest::newRow("mapped peer, v4 range") << "10.0.0.0/8"
                                               << "::ffff:10.1.2.3" << true;
        QTest::newRow("mapped peer, other range") << "10.0.0.0/8"
                                                  << "::ffff:192.0.2.1" << false;
        QTest::newRow("mapped entry, v4 peer") << "::ffff:10.0.0.0/104"
                                               << "10.9.9.9" << true;
        QTest::newRow("link-local peer with its interface") << "fe80::/10"
                                                            << "fe80::1%eth0" << true;
        QTest::newRow("blanks and commas") << " 1.2.3.4 ,\t5.6.7.8,,9.9.9.9 "
                                           << "5.6.7.8" << true;
        QTest::newRow("invalid entries skipped") << "bogus 10.0.0.1/33 10.0.0.1"
                                                 << "10.0.0.1" << true;
        QTest::newRow("empty list") << ""
                                    << "127.0.0.1" << false;
        QTest::newRow("peer not an address") << "0.0.0.0/0"
                                             << "localhost" << false;
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
        const QString notAddress = "not an IPv4 or IPv6 address";
        QTest::newRow("v4") << "192.168.1.10"
                            << "";
        QTest::newRow("v6 with prefix") << "fd00::/8"
                                        << "";
        QTest::newRow("short v4") << "10.1" << notAddress;
        QTest::newRow("octal-looking v4") << "010.0.0.1" << notAddress;
        QTest::newRow("hex v4") << "0x1.2.3.4" << notAddress;
        QTest::newRow("octet too big") << "256.1.1.1" << notAddress;
        QTest::newRow("host name") << "backup.lan" << notAddress;
        QTest::newRow("empty address") << "/8" << notAddress;
        QTest::newRow("v4 prefix too long") << "10.0.0.0/33"
                                            << "prefix length must be 0 to 32";
        QTest::newRow("v6 prefix too long") << "fd00::/129"
                                            << "prefix length must be 0 to 128";
        QTest::newRow("prefix not a number") << "10.0.0.0/x"
                                             << "prefix length must be 0 to 32";
        QTest::newRow("signed prefix") << "10.0.0.0/+8"
                                       << "prefix length must be 0 to 32";
        QTest::newRow("empty prefix") << "10.0.0.0/"
                                      << "prefix length must be 0 to 32";
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
        const AllowList list = AllowList::parse("10.0.0.1 nope fd00::/200", &refused);
        QCOMPARE(list.size(), 1);
        QCOMPARE(AllowList::refusalLine(refused),
            QString("Allow list: ignored \"nope\" (not an IPv4 or IPv6 address), "
                    "\"fd00::/200\" (prefix length must be 0 to 128)"));
    }
};

QTEST_GUILESS_MAIN(TestAlarmSettings)
#include "tst_AlarmSettings.moc"
