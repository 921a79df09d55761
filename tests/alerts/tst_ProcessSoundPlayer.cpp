#include "FakePrograms.h"
#include "ProcessSoundPlayer.h"

#include <QElapsedTimer>
#include <QtTest>

// The players are fakes on PATH that record their arguments: no sound server is needed.
class TestProcessSoundPlayer : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void playsThroughPaplayElseAplay_data();
    void playsThroughPaplayElseAplay();
    void newSoundEndsThePreviousWithoutWaiting();

private:
    static bool running(qint64 pid)
    {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        return stat.open(QIODevice::ReadOnly) && !stat.readAll().contains(") Z ");
    }

    std::unique_ptr<FakePrograms> m_fakes;
    QTemporaryDir m_dir;
    QString m_sound;
};

void TestProcessSoundPlayer::init()
{
    m_fakes = std::make_unique<FakePrograms>();
    m_fakes->hideOthers();
    m_sound = m_dir.filePath(QStringLiteral("Intruder Alarm.wav"));
    QFile sound(m_sound);
    QVERIFY(sound.open(QIODevice::WriteOnly));
}

void TestProcessSoundPlayer::playsThroughPaplayElseAplay_data()
{
    QTest::addColumn<QString>("paplay"); // the fake's shell commands; "none": not installed
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("paplayCalls");
    QTest::addColumn<QStringList>("aplayCalls");
    QTest::newRow("paplay plays") << "exit 0"
                                  << "%1" << QStringList { "-- %1" } << QStringList {};
    QTest::newRow("no Pulse server") << "exit 1"
                                     << "%1" << QStringList { "-- %1" } << QStringList { "-q -- %1" };
    QTest::newRow("paplay not installed") << "none"
                                          << "%1" << QStringList {} << QStringList { "-q -- %1" };
    QTest::newRow("missing file") << "exit 0"
                                  << "Missing.wav" << QStringList {} << QStringList {};
}

void TestProcessSoundPlayer::playsThroughPaplayElseAplay()
{
    QFETCH(QString, paplay);
    QFETCH(QString, file);
    QFETCH(QStringList, paplayCalls);
    QFETCH(QStringList, aplayCalls);
    if (paplay != u"none")
        m_fakes->add("paplay", paplay);
    m_fakes->add("aplay");
    ProcessSoundPlayer player;
    player.play(file.arg(m_sound));
    paplayCalls.replaceInStrings("%1", m_sound);
    aplayCalls.replaceInStrings("%1", m_sound);
    QTRY_COMPARE(m_fakes->calls(aplayCalls.isEmpty() ? "paplay" : "aplay"),
        aplayCalls.isEmpty() ? paplayCalls : aplayCalls);
    QTest::qWait(100);
    QCOMPARE(m_fakes->calls("paplay"), paplayCalls);
    QCOMPARE(m_fakes->calls("aplay"), aplayCalls);
}

void TestProcessSoundPlayer::newSoundEndsThePreviousWithoutWaiting()
{
    // A player that hangs, as paplay does when the sound server hangs; it reports its process id.
    m_fakes->add("paplay", "echo $$ >> \"$0.pids\"; exec /bin/sleep 30");
    ProcessSoundPlayer player;
    QElapsedTimer clock;
    clock.start();
    player.play(m_sound);
    QTRY_COMPARE(m_fakes->calls("paplay").size(), 1);
    player.play(m_sound);
    QVERIFY(clock.elapsed() < 1000);
    QTRY_COMPARE(m_fakes->calls("paplay").size(), 2);

    const auto pids = [] {
        QFile file(QString::fromUtf8(qgetenv("PATH")) + "/paplay.pids");
        return file.open(QIODevice::ReadOnly) ? file.readAll().split('\n') : QList<QByteArray>();
    };
    QTRY_COMPARE(pids().size(), 3); // two lines and the empty rest
    const QList<QByteArray> ids = pids();
    QTRY_VERIFY(!running(ids[0].toLongLong()));
    QVERIFY(running(ids[1].toLongLong()));
}

QTEST_GUILESS_MAIN(TestProcessSoundPlayer)
#include "tst_ProcessSoundPlayer.moc"
