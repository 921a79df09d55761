#include "IniSettingsStore.h"
#include "OptionsModel.h"
#include "SettingsManager.h"
#include "TestStore.h"

#include <QFile>
#include <QtTest>

using Control = OptionsModel::Control;

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
        const Settings& v = options.values();
        QVERIFY(v.soundsOn && manager.settings().logs);
        const QList<Flag> flags { v.hideMonitor, v.startMonitoring, v.run, v.alwaysOnTop, v.minOnStartup,
            v.useIconTray, v.useHotkeys, v.autoScrollMonitor, v.loadAtLogin, v.flashIcon, v.changeBackground,
            v.attackRun, v.copyClipboard, v.chatOn, v.rps };
        QCOMPARE(flags, QList<Flag>({ 0, 1, 0, 0, 1, 1, 0, 1, 1, 1, 0, 0, 1, 0, 0 }));
        // Dependent controls follow the loaded values.
        QVERIFY(!options.isEnabled(Control::StartRunText) && options.isEnabled(Control::SoundText2)
            && !options.isEnabled(Control::ChatServiceText));

        // A shorter port list leaves the entries past its end in the store, unloaded. Saving
        // leaves the loaded record alone until the next load.
        while (options.ports().size() > 3)
            options.removePorts({ 3 });
        options.appendPort("8080");
        options.set(&Settings::alwaysOnTop, Flag(1));
        options.set(&Settings::logs, false);
        options.set(&Settings::attackRunFile, QString("/opt/my tools/alarm --loud \"a b\""));
        manager.saveSettings();
        QCOMPARE(QStringList({ t.store().read("Display", "Always On Top"), t.store().read("General", "Logs"),
                     t.store().read("Ports", "Number"), t.store().read("Ports", "11") }),
            QStringList({ "1", "False", "3", "12346" }));
        QCOMPARE(manager.settings().alwaysOnTop, Flag(0));
        manager.loadSettings();
        QCOMPARE(manager.settings().alwaysOnTop, Flag(1));
        QCOMPARE(options.ports(), QStringList({ "21", "23", "25", "8080" }));
        QCOMPARE(options.values().attackRunFile, QString("/opt/my tools/alarm --loud \"a b\""));
        QVERIFY(!options.values().logs && !options.isEnabled(Control::LogsRead));
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

    // Odd text a user may have put in the store: loading and saving writes back what the dialog
    // showed, and the file holds exactly what a store written with those values holds.
    void oddValuesSaveAsShown()
    {
        struct Row
        {
            const char* section;
            const char* key;
            const char* stored;
            const char* saved;
        };
        const Row rows[] = {
            { "General", "Hide Monitor", "yes", "0" },
            { "General", "Run", " 1 ", "1" },
            { "Display", "Always On Top", "-5", "0" },
            { "Display", "Use Hotkeys", "", "0" },
            { "Display", "Min On Startup", "2", "2" },
            { "Display", "Flash Icon", "3", "0" },
            { "Display", "Copy Clipboard", "+1", "1" },
            { "General", "Logs", "yes", "False" },
            { "Sounds", "On", "tRuE", "True" },
            { "General", "Run File", "", "" },
            { "Advance", "DDE Service", " spaced ", " spaced " },
            { "Ports", "Number", "40000", "-1" },
        };
        TestStore edited, expected;
        OptionsModel options;
        SettingsManager manager(edited.store(), options);
        manager.firstStartup();
        SettingsManager(expected.store(), options).firstStartup();
        for (const Row& row : rows) {
            edited.store().write(row.section, row.key, row.stored);
            expected.store().write(row.section, row.key, row.saved);
        }
        expected.store().sync();
        manager.loadSettings();
        manager.saveSettings();
        const auto bytes = [](const QString& path) {
            QFile file(path);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        QCOMPARE(bytes(edited.path()), bytes(expected.path()));
        // The record keeps a number outside the three states as read: neither on nor off.
        const Settings& r = manager.settings();
        QCOMPARE(QList<Flag>(
                     { r.hideMonitor, r.run, r.alwaysOnTop, r.minOnStartup, r.flashIcon, r.copyClipboard }),
            QList<Flag>({ 0, 1, -5, 2, 3, 1 }));
    }
};

QTEST_GUILESS_MAIN(TestSettingsManager)
#include "tst_SettingsManager.moc"
