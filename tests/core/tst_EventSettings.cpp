#include "EventSettings.h"
#include "OptionsModel.h"
#include "SettingsManager.h"
#include "TestStore.h"

#include <QFile>
#include <QtTest>

class TestEventSettings : public QObject
{
    Q_OBJECT

private slots:
    void existingStoreGainsSectionWithOriginalBytesKept();
    void handEditedValues_data();
    void handEditedValues();
    void collectorAddress_data();
    void collectorAddress();
};

namespace {
QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Event Log, Size, Files, Syslog, Collector and Protocol, as one line.
QString described(const EventSettings& s)
{
    return QStringList { s.eventLog ? "1" : "0", QString::number(s.eventLogSizeMb), QString::number(s.eventLogFiles),
        s.syslog ? "1" : "0", s.collector, s.collectorProtocol }
        .join(' ');
}
} // namespace

// A store written by an earlier version: the new section arrives with its first-start values and
// every original line stays as it was, in its place.
void TestEventSettings::existingStoreGainsSectionWithOriginalBytesKept()
{
    TestStore t;
    OptionsModel options;
    SettingsManager(t.store(), options).firstStartup();
    const QByteArray before = fileBytes(t.path());
    QVERIFY(!before.contains("[Events]"));

    const EventSettings loaded = EventSettings::load(t.store());
    const QByteArray after = fileBytes(t.path());
    const qsizetype start = after.indexOf("[Events]\n");
    QVERIFY(start >= 0);
    qsizetype end = after.indexOf("\n[", start);
    end = end < 0 ? after.size() : end + 1;
    const QByteArray withoutSection = after.left(start) + after.mid(end);
    QCOMPARE(withoutSection.trimmed(), before.trimmed());
    QCOMPARE(after.mid(start, end - start).trimmed(),
        QByteArray("[Events]\nCollector=\nCollector%20Protocol=tcp\nEvent%20Log=1\nEvent%20Log%20Files=5\n"
                   "Event%20Log%20Size=10\nSyslog=1"));
    QCOMPARE(t.keys().size(), 38 + 6);

    QCOMPARE(described(loaded), QString("1 10 5 1  tcp"));

    // The next start finds everything in place and leaves the file alone.
    EventSettings::load(t.store());
    QCOMPARE(fileBytes(t.path()), after);
}

void TestEventSettings::handEditedValues_data()
{
    QTest::addColumn<QStringList>("stored"); // Event Log, Size, Files, Syslog, Collector, Protocol
    QTest::addColumn<QString>("expected"); // the same, as read

    QTest::newRow("all changed") << QStringList { "0", "25", "2", "0", " [::1]:6514 ", "UDP" }
                                 << "0 25 2 0 [::1]:6514 udp";
    QTest::newRow("nonsense sizes read as first-start values")
        << QStringList { "yes", "-3", "many", "1", "", "tcp" } << "1 10 5 1  tcp";
    QTest::newRow("zero files is not a count") << QStringList { "1", "0", "0", "1", "h:1", "tcp" }
                                               << "1 10 5 1 h:1 tcp";
}

void TestEventSettings::handEditedValues()
{
    QFETCH(QStringList, stored);
    QFETCH(QString, expected);
    TestStore t;
    const QStringList keys { "Event Log", "Event Log Size", "Event Log Files", "Syslog", "Collector",
        "Collector Protocol" };
    for (int i = 0; i < keys.size(); ++i)
        t.store().write("Events", keys[i], stored[i]);

    QCOMPARE(described(EventSettings::load(t.store())), expected);
}

void TestEventSettings::collectorAddress_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("host"); // empty: rejected
    QTest::addColumn<int>("port");

    QTest::newRow("ipv4") << "192.0.2.10:514" << "192.0.2.10" << 514;
    QTest::newRow("name") << "logs.example.org:6514" << "logs.example.org" << 6514;
    QTest::newRow("ipv6 in brackets") << "[2001:db8::1]:514" << "2001:db8::1" << 514;
    QTest::newRow("ipv6 bare") << "2001:db8::1:514" << "" << 0;
    QTest::newRow("no port") << "logs.example.org" << "" << 0;
    QTest::newRow("brackets without port") << "[::1]" << "" << 0;
    QTest::newRow("empty host") << ":514" << "" << 0;
    QTest::newRow("empty brackets") << "[]:514" << "" << 0;
    QTest::newRow("port zero") << "h:0" << "" << 0;
    QTest::newRow("port too large") << "h:65536" << "" << 0;
    QTest::newRow("port not a number") << "h:syslog" << "" << 0;
}

void TestEventSettings::collectorAddress()
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

QTEST_GUILESS_MAIN(TestEventSettings)
#include "tst_EventSettings.moc"
