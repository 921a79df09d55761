#include "IniSettingsStore.h"
#include "OptionsModel.h"
#include "SettingValue.h"
#include "SettingsManager.h"
#include "TestStore.h"

#include <QFile>
#include <QtTest>

using Check = OptionsModel::Check;
using Choice = OptionsModel::Choice;
using Control = OptionsModel::Control;
using Text = OptionsModel::Text;

class TestSettingsManager : public QObject
{
    Q_OBJECT

private slots:
    void freshStoreGetsEveryFirstStartValue()
    {
        TestStore t;
        OptionsModel options;
        SettingsManager manager(t.store(), options);
        manager.firstStartup();
        QCOMPARE(t.keys().size(), 38);
        // The file on disk, read by a separate reader: the first start syncs.
        IniSettingsStore reread = IniSettingsStore::atPath(t.path());
        QCOMPARE(reread.read("Advance", "DDE Service"), QString("mIRC"));
        QCOMPARE(reread.read("Display", "Attack Run File"), QString("None"));

        manager.loadSettings();
        QCOMPARE(options.ports(),
            QStringList({ "21", "23", "25", "53", "70", "79", "80", "137", "138", "139", "12345", "12346" }));
        QVERIFY(options.isOn(Choice::Sounds) && SettingValue::isTrue(manager.settings().logs));
        const QList<Check> on { Check::AutoStart, Check::Minimize, Check::IconTray, Check::AutoScroll,
            Check::WindowsStart, Check::FlashIcon, Check::Clipboard };
        for (int i = 0; i < int(Check::Count); ++i)
            QCOMPARE(options.isChecked(Check(i)), on.contains(Check(i)));
        // Dependent controls follow the loaded values.
        QVERIFY(!options.isEnabled(Control::StartRunText) && options.isEnabled(Control::SoundText2)
            && !options.isEnabled(Control::DdeText));
    }

    void firstStartRewritesUnlessTheMarkerMatches_data()
    {
        QTest::addColumn<QString>("marker");
        QTest::addColumn<bool>("rewritten");
        QTest::newRow("no marker") << QString() << true;
        QTest::newRow("marker in another case") << "sentrel ii" << true;
        QTest::newRow("marker") << "Sentrel II" << false;
    }
    void firstStartRewritesUnlessTheMarkerMatches()
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

    // Controls are saved in their stored forms; a shorter port list leaves the entries past its end
    // in the store, unloaded. Saving leaves the loaded record alone until the next load.
    void saveWritesControlsAsStoredForms()
    {
        TestStore t;
        OptionsModel options;
        SettingsManager manager(t.store(), options);
        manager.firstStartup();
        manager.loadSettings();
        while (options.ports().size() > 3)
            options.removePorts({ 3 });
        options.appendPort("8080");
        options.setCheckState(Check::AlwaysTop, 1);
        options.setOn(Choice::Logs, false);
        options.setText(Text::AttackRun, "/opt/my tools/alarm --loud \"a b\"");
        options.setText(Text::Sound2, "my sounds/siren 2.wav");
        manager.saveSettings();

        QCOMPARE(t.store().read("Display", "Always On Top"), QString("1"));
        QCOMPARE(t.store().read("General", "Logs"), QString("False"));
        QCOMPARE(t.store().read("Ports", "Number"), QString("3"));
        QCOMPARE(t.store().read("Ports", "3"), QString("8080"));
        QCOMPARE(t.store().read("Ports", "11"), QString("12346"));
        QCOMPARE(t.keys().size(), 38);
        QCOMPARE(manager.settings().alwaysOnTop, QString("0"));

        manager.loadSettings();
        QCOMPARE(manager.settings().alwaysOnTop, QString("1"));
        QCOMPARE(options.ports(), QStringList({ "21", "23", "25", "8080" }));
        QCOMPARE(options.text(Text::AttackRun), QString("/opt/my tools/alarm --loud \"a b\""));
        QCOMPARE(options.soundFile(2), QString("my sounds/siren 2.wav"));
        // Logs stored as false shows as Off, and its buttons are disabled.
        QVERIFY(!options.isOn(Choice::Logs) && !options.isEnabled(Control::LogsRead)
            && !options.isEnabled(Control::LogsPurge));
    }

    void damagedStoreLoadsSafely()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("Sentrel II.ini");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("this is not an ini line\n[%General]\nStart=Sentrel II\nRun=yes please\n"
                   "Run%20File=/usr/bin/xmessage hello, world\n=== garbage ===\nLogs=TRUE\n[Display\n"
                   "[Display]\nUse%20IconTray=\nAlways%20On%20Top=1\n[Ports]\nNumber=twelve\n0=21\n"
                   "[Sounds]\nOn=1\n2=Intruder.wav\n");
        file.close();

        IniSettingsStore store = IniSettingsStore::atPath(path);
        OptionsModel options;
        SettingsManager manager(store, options);
        manager.firstStartup();
        manager.loadSettings();
        const Settings& s = manager.settings();
        QVERIFY(!SettingValue::isOn(s.run) && SettingValue::isOff(s.useIconTray));
        QVERIFY(SettingValue::isOn(s.alwaysOnTop) && SettingValue::isTrue(s.logs));
        QVERIFY(!SettingValue::isTrue(s.soundsOn) && options.ports().isEmpty());
        QCOMPARE(s.runFile, QString("/usr/bin/xmessage hello, world"));
        QCOMPARE(options.soundFile(2), QString("Intruder.wav"));
        QCOMPARE(options.soundFile(3), QString());

        // The marker was there, so nothing was rewritten and the user's keys survived a save.
        manager.saveSettings();
        IniSettingsStore reread = IniSettingsStore::atPath(path);
        QCOMPARE(reread.read("Display", "Always On Top"), QString("1"));
        QCOMPARE(reread.read("General", "Run File"), QString("/usr/bin/xmessage hello, world"));
        QCOMPARE(reread.read("Ports", "0"), QString("21"));
    }

    void valueForms_data()
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
    void valueForms()
    {
        QFETCH(QString, text);
        QTEST(SettingValue::flag(text), "flag");
        QTEST(SettingValue::isTrue(text), "switchValue");
        QTEST(SettingValue::lastPortIndex(text), "lastPort");
    }
};

QTEST_GUILESS_MAIN(TestSettingsManager)
#include "tst_SettingsManager.moc"
