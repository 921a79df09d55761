#include "AlertActions.h"
#include "AlertRecorder.h"
#include "IniSettingsStore.h"
#include "IntruderRecord.h"
#include "OptionsModel.h"
#include "SettingsManager.h"

#include <QDir>
#include <QFile>
#include <QtTest>

using namespace std::chrono_literals;
using Setting = QPair<QString, QString>; // "Section/Key", value

class TestAlertActions : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void eachStepFollowsItsOwnCondition_data();
    void eachStepFollowsItsOwnCondition();
    void everythingOnRunsTheStepsInOrder();
    void unwritableLogLosesOnlyTheEntry();
    void floodRunsChildProcessesAtMostOncePerSecond();

private:
    void set(const QList<Setting>& values);
    QByteArray log() const;

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<IniSettingsStore> m_store;
    std::unique_ptr<OptionsModel> m_options;
    std::unique_ptr<SettingsManager> m_settings;
    AlertRecorder m_recorder;
    std::chrono::milliseconds m_now {};
    std::unique_ptr<AlertActions> m_actions;
    const IntruderRecord m_intruder { QStringLiteral("10.0.0.5"), 23, {} };
};

void TestAlertActions::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_store = std::make_unique<IniSettingsStore>(IniSettingsStore::atPath(m_dir->filePath("Sentrel II.ini")));
    m_options = std::make_unique<OptionsModel>();
    m_settings = std::make_unique<SettingsManager>(*m_store, *m_options);
    m_settings->firstStartup();
    set({ { "Display/Flash Icon", "0" }, { "Display/Use IconTray", "0" }, { "Display/Copy Clipboard", "0" },
        { "Sounds/On", "False" }, { "General/Logs", "False" },
        { "Display/Attack Run File", "xterm -e top" } });
    m_recorder.calls.clear();
    m_now = 0ms;
    AlertServices services { &m_recorder, &m_recorder, &m_recorder, &m_recorder, &m_recorder, &m_recorder };
    m_actions = std::make_unique<AlertActions>(*m_settings, *m_options, services, [this] { return m_now; });
}

void TestAlertActions::set(const QList<Setting>& values)
{
    for (const auto& [key, value] : values)
        m_store->write(key.section('/', 0, 0), key.section('/', 1), value);
    m_settings->loadSettings();
    m_settings->setAppPath(m_dir->path() + '/');
}

QByteArray TestAlertActions::log() const
{
    QFile file(m_dir->filePath("Log.txt"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void TestAlertActions::eachStepFollowsItsOwnCondition_data()
{
    QTest::addColumn<QList<Setting>>("settings");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<bool>("logged");
    QTest::newRow("all off") << QList<Setting> {} << QStringList {} << false;
    QTest::newRow("flash without tray")
        << QList<Setting> { { "Display/Flash Icon", "1" } } << QStringList {} << false;
    QTest::newRow("tray without flash")
        << QList<Setting> { { "Display/Use IconTray", "1" } } << QStringList {} << false;
    QTest::newRow("flash") << QList<Setting> { { "Display/Flash Icon", "1" },
        { "Display/Use IconTray", "1" } }
                           << QStringList { "flash" } << false;
    QTest::newRow("wallpaper") << QList<Setting> { { "Display/Change Background", "1" } }
                               << QStringList { "wallpaper %1/SentrelBg.bmp" } << false;
    QTest::newRow("program") << QList<Setting> { { "Display/Attack Run", "1" } }
                             << QStringList { "start xterm -e top" } << false;
    QTest::newRow("clipboard") << QList<Setting> { { "Display/Copy Clipboard", "1" } }
                               << QStringList { "clipboard Intruder IP: 10.0.0.5 Attacked Port: 23" }
                               << false;
    QTest::newRow("sound") << QList<Setting> { { "Sounds/On", "True" } }
                           << QStringList { "sound Intruder.wav" } << false;
    QTest::newRow("log") << QList<Setting> { { "General/Logs", "True" } } << QStringList {} << true;
    QTest::newRow("chat") << QList<Setting> { { "Advance/DDE On", "1" } }
                          << QStringList { "chat mIRC|/Sentrel 10.0.0.5 23" } << false;
}

void TestAlertActions::eachStepFollowsItsOwnCondition()
{
    QFETCH(QList<Setting>, settings);
    QFETCH(QStringList, expected);
    QFETCH(bool, logged);
    set(settings);
    m_actions->raiseIntruderAlert(m_intruder);
    expected.replaceInStrings("%1", m_dir->path());
    QCOMPARE(m_recorder.calls, expected);
    QCOMPARE(QFile::exists(m_dir->filePath("Log.txt")), logged);
}

void TestAlertActions::everythingOnRunsTheStepsInOrder()
{
    set({ { "Display/Flash Icon", "1" }, { "Display/Use IconTray", "1" },
        { "Display/Change Background", "1" }, { "Display/Attack Run", "1" },
        { "Display/Copy Clipboard", "1" }, { "Sounds/On", "True" }, { "General/Logs", "True" },
        { "Advance/DDE On", "1" } });
    m_options->setText(OptionsModel::Text::Sound2, "Siren.wav"); // an edit not yet saved counts
    m_actions->raiseIntruderAlert(m_intruder);
    m_options->setText(OptionsModel::Text::DdeService, "fifo:/tmp/chat");
    m_actions->raiseIntruderAlert({ "192.168.1.7", 80, {} });
    const QStringList kinds { "flash", "wallpaper", "start", "clipboard", "sound Siren.wav", "chat mIRC" };
    QCOMPARE(m_recorder.calls.size(), 6 + 3); // within the second: no new program, sound or wallpaper
    for (int i = 0; i < kinds.size(); ++i)
        QVERIFY2(m_recorder.calls[i].startsWith(kinds[i]), qPrintable(m_recorder.calls[i]));
    QCOMPARE(m_recorder.calls.last(), "chat fifo:/tmp/chat|/Sentrel 192.168.1.7 80");
    QCOMPARE(log().count("Intruder Information - "), 2);
}

void TestAlertActions::unwritableLogLosesOnlyTheEntry()
{
    QVERIFY(QDir(m_dir->path()).mkdir("Log.txt")); // cannot be opened as a file, not even by root
    set({ { "General/Logs", "True" }, { "Advance/DDE On", "1" } });
    m_actions->raiseIntruderAlert(m_intruder);
    QCOMPARE(m_recorder.calls, QStringList { "chat mIRC|/Sentrel 10.0.0.5 23" });
}

void TestAlertActions::floodRunsChildProcessesAtMostOncePerSecond()
{
    set({ { "Display/Attack Run", "1" }, { "Sounds/On", "True" }, { "General/Logs", "True" },
        { "Display/Copy Clipboard", "1" }, { "Display/Change Background", "1" } });
    for (int i = 0; i < 1000; ++i, m_now += 1ms)
        m_actions->raiseIntruderAlert({ QStringLiteral("10.0.%1.%2").arg(i / 256).arg(i % 256), 23, {} });
    QVERIFY(m_recorder.count("start") >= 1 && m_recorder.count("start") <= 2);
    QVERIFY(m_recorder.count("sound") >= 1 && m_recorder.count("sound") <= 2);
    QVERIFY(m_recorder.count("wallpaper") >= 1 && m_recorder.count("wallpaper") <= 2);
    QCOMPARE(m_recorder.count("clipboard"), 1000);
    QCOMPARE(log().count("Intruder Information - "), 1000);

    // The limit delays, it does not switch off: the next intrusion after a quiet second acts again.
    const int started = m_recorder.count("start");
    m_now += 1s;
    m_actions->raiseIntruderAlert(m_intruder);
    QCOMPARE(m_recorder.count("start"), started + 1);
}

QTEST_GUILESS_MAIN(TestAlertActions)
#include "tst_AlertActions.moc"
