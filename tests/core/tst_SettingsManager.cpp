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
    // First start, load, edits in the dialog's model, save, load again.
    void firstStartSaveAndLoad()
    {
        TestStore t;
        OptionsModel options;
        SettingsManager manager(t.store(), options);
        manager.firstStartup();
        QCOMPARE(t.keys().size(), 38);
        // Read back by a separate reader: the first start syncs.
        QCOMPARE(IniSettingsStore::atPath(t.path()).read("Advance", "DDE Service"), QString("mIRC"));

        manager.loadSettings();
        QCOMPARE(options.ports(),
            QStringList({ "21", "23", "25", "53", "70", "79", "80", "137", "138", "139", "12345", "12346" }));
        QVERIFY(options.isOn(Choice::Sounds) && SettingValue::isTrue(manager.settings().logs));
        const QList<Check> on { Check::AutoStart, Check::Minimize, Check::IconTray, Check::AutoScroll,
            Check::LoadAtLogin, Check::FlashIcon, Check::Clipboard };
        for (int i = 0; i < int(Check::Count); ++i)
            QCOMPARE(options.isChecked(Check(i)), on.contains(Check(i)));
        // Dependent controls follow the loaded values.
        QVERIFY(!options.isEnabled(Control::StartRunText) && options.isEnabled(Control::SoundText2)
            && !options.isEnabled(Control::ChatServiceText));

        // A shorter port list leaves the entries past its end in the store, unloaded. Saving
        // leaves the loaded record alone until the next load.
        while (options.ports().size() > 3)
            options.removePorts({ 3 });
        options.appendPort("8080");
        options.setCheckState(Check::AlwaysTop, 1);
        options.setOn(Choice::Logs, false);
        options.setText(Text::AttackRun, "/opt/my tools/alarm --loud \"a b\"");
        manager.saveSettings();
        QCOMPARE(QStringList({ t.store().read("Display", "Always On Top"), t.store().read("General", "Logs"),
                     t.store().read("Ports", "Number"), t.store().read("Ports", "11") }),
            QStringList({ "1", "False", "3", "12346" }));
        QCOMPARE(manager.settings().alwaysOnTop, QString("0"));
        manager.loadSettings();
        QCOMPARE(manager.settings().alwaysOnTop, QString("1"));
        QCOMPARE(options.ports(), QStringList({ "21", "23", "25", "8080" }));
        QCOMPARE(options.text(Text::AttackRun), QString("/opt/my tools/alarm --loud \"a b\""));
        QVERIFY(!options.isOn(Choice::Logs) && !options.isEnabled(Control::LogsRead));
    }

    // The marker says the store is ours; in another letter case it does not, and every
    // first-start value is written over what is there.
    void firstStartRewritesUnlessTheMarkerMatches()
    {
        TestStore t;
        t.store().write("General", "Start", "sentrel ii");
        t.store().write("General", "Run File", "my editor --flag");
        OptionsModel options;
        SettingsManager(t.store(), options).firstStartup();
        QCOMPARE(t.store().read("General", "Start"), QString("Sentrel II"));
        QCOMPARE(t.store().read("General", "Run File"), QString("None"));
    }

    // A hand-edited file with broken lines and the marker still loads, and neither the first
    // start nor a save overwrites what the user wrote.
    void damagedStoreLoadsSafely()
    {
        QTemporaryDir dir;
        QFile file(dir.filePath("Sentrel II.ini"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("this is not an ini line\n[%General]\nStart=Sentrel II\n"
                   "Run%20File=/usr/bin/xmessage hello, world\n=== garbage ===\n[Display\n");
        file.close();
        IniSettingsStore store = IniSettingsStore::atPath(file.fileName());
        OptionsModel options;
        SettingsManager manager(store, options);
        manager.firstStartup();
        manager.loadSettings();
        QCOMPARE(manager.settings().runFile, QString("/usr/bin/xmessage hello, world"));
        manager.saveSettings();
        QCOMPARE(IniSettingsStore::atPath(file.fileName()).read("General", "Run File"),
            QString("/usr/bin/xmessage hello, world"));
    }

    // Text as a flag, a switch and the port list's last index.
    void valueForms()
    {
        for (const auto& [text, flag, switchValue, lastPort] :
            { std::tuple { " 1 ", 1, false, 1 }, { "on", 0, false, -1 }, { "tRuE", 0, true, -1 },
                { "-2", -2, false, -1 }, { "40000", 40000, false, -1 } }) {
            QCOMPARE(SettingValue::flag(text), flag);
            QCOMPARE(SettingValue::isTrue(text), switchValue);
            QCOMPARE(SettingValue::lastPortIndex(text), lastPort);
        }
    }
};

QTEST_GUILESS_MAIN(TestSettingsManager)
#include "tst_SettingsManager.moc"
