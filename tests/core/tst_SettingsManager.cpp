#include "IniSettingsStore.h"
#include "OptionsModel.h"
#include "SettingValue.h"
#include "SettingsManager.h"
#include "TestStore.h"

#include <QFile>
#include <QtTest>

using Check = OptionsModel::Check;
using Choice = OptionsModel::Choice;
using Text = OptionsModel::Text;

namespace {
const QStringList DefaultPorts { "21", "23", "25", "53", "70", "79", "80", "137", "138", "139", "12345",
    "12346" };
}

class TestSettingsManager : public QObject
{
    Q_OBJECT

private slots:
    void freshStoreGetsEveryFirstStartValue();
    void firstStartRewritesUnlessTheMarkerMatches_data();
    void firstStartRewritesUnlessTheMarkerMatches();
    void portListShrinksAndKeepsTheRest();
    void saveWritesControlsAsStoredForms();
    void damagedStoreLoadsSafely();
    void valueForms_data();
    void valueForms();
};

void TestSettingsManager::freshStoreGetsEveryFirstStartValue()
{
    TestStore t;
    OptionsModel options;
    SettingsManager manager(t.store(), options);
    manager.firstStartup();

    QCOMPARE(t.keys().size(), 38);
    // The file on disk, read by a separate reader: the first start syncs.
    IniSettingsStore reread = IniSettingsStore::atPath(t.path());
    QCOMPARE(reread.read("General", "Start"), QString("Sentrel II"));
    QCOMPARE(reread.read("Ports", "Number"), QString("11"));
    QCOMPARE(reread.read("Advance", "DDE Service"), QString("mIRC"));
    QCOMPARE(reread.read("Display", "Attack Run File"), QString("None"));

    manager.loadSettings();
    const Settings& s = manager.settings();
    QCOMPARE(options.ports(), DefaultPorts);
    QVERIFY(options.isOn(Choice::Sounds));
    QVERIFY(SettingValue::isTrue(s.logs));

    const QList<Check> on { Check::AutoStart, Check::Minimize, Check::IconTray, Check::AutoScroll,
        Check::WindowsStart, Check::FlashIcon, Check::Clipboard };
    for (int i = 0; i < int(Check::Count); ++i) {
        const auto check = Check(i);
        QCOMPARE(options.isChecked(check), on.contains(check));
    }
    // Dependent controls follow the loaded values.
    QVERIFY(!options.isEnabled(OptionsModel::Control::StartRunText));
    QVERIFY(options.isEnabled(OptionsModel::Control::SoundText2));
    QVERIFY(!options.isEnabled(OptionsModel::Control::DdeText));
}

void TestSettingsManager::firstStartRewritesUnlessTheMarkerMatches_data()
{
    QTest::addColumn<QString>("marker");
    QTest::addColumn<bool>("rewritten");
    QTest::newRow("no marker") << QString() << true;
    QTest::newRow("marker in another case") << "sentrel ii" << true;
    QTest::newRow("marker") << "Sentrel II" << false;
}

void TestSettingsManager::firstStartRewritesUnlessTheMarkerMatches()
{
    QFETCH(QString, marker);
    QFETCH(bool, rewritten);
    TestStore t;
    if (!marker.isNull())
        t.store().write("General", "Start", marker);
    t.store().write("General", "Run File", "my editor --flag");
    t.store().write("Ports", "Number", "0");
    OptionsModel options;
    SettingsManager(t.store(), options).firstStartup();

    QCOMPARE(t.store().read("General", "Start"), rewritten ? QString("Sentrel II") : marker);
    QCOMPARE(t.store().read("General", "Run File"), QString(rewritten ? "None" : "my editor --flag"));
    QCOMPARE(t.store().read("Ports", "Number"), QString(rewritten ? "11" : "0"));
    QCOMPARE(t.keys().size(), rewritten ? 38 : 3);
}

void TestSettingsManager::portListShrinksAndKeepsTheRest()
{
    TestStore t;
    OptionsModel options;
    SettingsManager manager(t.store(), options);
    manager.firstStartup();
    manager.loadSettings();

    while (options.ports().size() > 3)
        options.removePorts({ 3 });
    manager.saveSettings();
    QCOMPARE(t.store().read("Ports", "Number"), QString("2"));
    // Entries past the new end stay in the store but are not loaded.
    QCOMPARE(t.store().read("Ports", "11"), QString("12346"));
    QCOMPARE(t.keys().size(), 38);
    manager.loadSettings();
    QCOMPARE(options.ports(), QStringList({ "21", "23", "25" }));
}

void TestSettingsManager::saveWritesControlsAsStoredForms()
{
    TestStore t;
    OptionsModel options;
    SettingsManager manager(t.store(), options);
    manager.firstStartup();
    manager.loadSettings();

    options.setCheckState(Check::AlwaysTop, 1);
    options.setOn(Choice::Logs, false);
    options.setText(Text::AttackRun, "/opt/my tools/alarm --loud \"a b\"");
    options.setText(Text::Sound2, "my sounds/siren 2.wav");
    options.appendPort("8080");
    manager.saveSettings();

    QCOMPARE(t.store().read("Display", "Always On Top"), QString("1"));
    QCOMPARE(t.store().read("General", "Logs"), QString("False"));
    QCOMPARE(t.store().read("Ports", "12"), QString("8080"));
    QCOMPARE(t.store().read("Ports", "Number"), QString("12"));

    // Saving leaves the record alone until the next load.
    QCOMPARE(manager.settings().alwaysOnTop, QString("0"));
    manager.loadSettings();
    QCOMPARE(manager.settings().alwaysOnTop, QString("1"));
    QCOMPARE(options.text(Text::AttackRun), QString("/opt/my tools/alarm --loud \"a b\""));
    QCOMPARE(options.soundFile(2), QString("my sounds/siren 2.wav"));
    // Logs stored as false shows as Off, and its buttons are disabled.
    QVERIFY(!options.isOn(Choice::Logs));
    QVERIFY(!options.isEnabled(OptionsModel::Control::LogsRead));
    QVERIFY(!options.isEnabled(OptionsModel::Control::LogsPurge));
}

void TestSettingsManager::damagedStoreLoadsSafely()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("Sentrel II.ini");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("this is not an ini line\n"
               "[%General]\n"
               "Start=Sentrel II\n"
               "Run=yes please\n"
               "Run%20File=/usr/bin/xmessage hello, world\n"
               "=== garbage ===\n"
               "Logs=TRUE\n"
               "[Display\n"
               "[Display]\n"
               "Use%20IconTray=\n"
               "Always%20On%20Top=1\n"
               "[Ports]\n"
               "Number=twelve\n"
               "0=21\n"
               "[Sounds]\n"
               "On=1\n"
               "2=Intruder.wav\n");
    file.close();

    IniSettingsStore store = IniSettingsStore::atPath(path);
    OptionsModel options;
    SettingsManager manager(store, options);
    manager.firstStartup();
    manager.loadSettings();

    const Settings& s = manager.settings();
    QVERIFY(!SettingValue::isOn(s.run));
    QVERIFY(SettingValue::isOff(s.useIconTray));
    QVERIFY(SettingValue::isOn(s.alwaysOnTop));
    QVERIFY(SettingValue::isTrue(s.logs));
    QVERIFY(!SettingValue::isTrue(s.soundsOn));
    QCOMPARE(s.runFile, QString("/usr/bin/xmessage hello, world"));
    QVERIFY(options.ports().isEmpty());
    QCOMPARE(options.soundFile(2), QString("Intruder.wav"));
    QCOMPARE(options.soundFile(3), QString());

    // The marker was there, so nothing was rewritten and the user's keys survived a save.
    manager.saveSettings();
    IniSettingsStore reread = IniSettingsStore::atPath(path);
    QCOMPARE(reread.read("Display", "Always On Top"), QString("1"));
    QCOMPARE(reread.read("General", "Run File"), QString("/usr/bin/xmessage hello, world"));
    QCOMPARE(reread.read("Ports", "0"), QString("21"));
}

void TestSettingsManager::valueForms_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("flag");
    QTest::addColumn<bool>("switchValue");
    QTest::addColumn<int>("lastPort");
    QTest::newRow("one") << "1" << 1 << false << 1;
    QTest::newRow("spaces") << " 1 " << 1 << false << 1;
    QTest::newRow("empty") << "" << 0 << false << -1;
    QTest::newRow("words") << "on" << 0 << false << -1;
    QTest::newRow("true any case") << "tRuE" << 0 << true << -1;
    QTest::newRow("hex") << "0x1" << 0 << false << -1;
    QTest::newRow("minus one") << "-1" << -1 << false << -1;
    QTest::newRow("below minus one") << "-2" << -2 << false << -1;
    QTest::newRow("beyond 16 bits") << "40000" << 40000 << false << -1;
    QTest::newRow("overflow") << "99999999999" << 0 << false << -1;
}

void TestSettingsManager::valueForms()
{
    QFETCH(QString, text);
    QFETCH(int, flag);
    QFETCH(bool, switchValue);
    QFETCH(int, lastPort);
    QCOMPARE(SettingValue::flag(text), flag);
    QCOMPARE(SettingValue::isTrue(text), switchValue);
    QCOMPARE(SettingValue::lastPortIndex(text), lastPort);
}

QTEST_GUILESS_MAIN(TestSettingsManager)
#include "tst_SettingsManager.moc"
