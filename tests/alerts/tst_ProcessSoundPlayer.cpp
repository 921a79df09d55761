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
    void missingFileStartsNothing();
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
    QTest::addColumn<QString>("paplay"); // shell commands of the fake paplay; "none": not installed
    QTest::addColumn<bool>("aplayUsed");
    QTest::newRow("paplay plays") << "exit 0" << false;
    QTest::newRow("no Pulse server") << "exit 1" << true;
    QTest::newRow("paplay not installed") << "none" << true;
}

void TestProcessSoundPlayer::playsThroughPaplayElseAplay()
{
    QFETCH(QString, paplay);
    QFETCH(bool, aplayUsed);
    if (paplay != u"none")
        m_fakes->add("paplay", paplay);
    m_fakes->add("aplay");
    ProcessSoundPlayer player;
    player.play(m_sound);
    const QStringList expected { "-q -- " + m_sound };
    if (aplayUsed)
        QTRY_COMPARE(m_fakes->calls("aplay"), expected);
    else
        QTRY_COMPARE(m_fakes->calls("paplay"), QStringList { "-- " + m_sound });
    QTest::qWait(100);
    QCOMPARE(m_fakes->calls("aplay").isEmpty(), !aplayUsed);
}

void TestProcessSoundPlayer::missingFileStartsNothing()
{
    m_fakes->add("paplay");
    m_fakes->add("aplay");
    ProcessSoundPlayer player;
    player.play(m_dir.filePath("Missing.wav"));
    player.play(QString());
    QTest::qWait(200);
    QVERIFY(m_fakes->calls("paplay").isEmpty());
    QVERIFY(m_fakes->calls("aplay").isEmpty());
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
