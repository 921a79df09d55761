#include "FakePrograms.h"
#include "ProcessSoundPlayer.h"

#include <QtTest>

#include <csignal>

// The players are fakes that record their arguments: no sound server is needed.
class TestProcessSoundPlayer : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    const QString m_sound = m_dir.filePath("Intruder Alarm.wav");

private slots:
    void initTestCase() { QVERIFY(QFile(m_sound).open(QIODevice::WriteOnly)); }

    void playsThroughPaplayElseAplay_data()
    {
        QTest::addColumn<QString>("paplay"); // the fake's shell commands; "none": not installed
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("paplay plays") << "exit 0" << m_sound << QStringList { "paplay -- " + m_sound };
        QTest::newRow("no Pulse server")
            << "exit 1" << m_sound << QStringList { "paplay -- " + m_sound, "aplay -q -- " + m_sound };
        QTest::newRow("paplay not installed")
            << "none" << m_sound << QStringList { "aplay -q -- " + m_sound };
        QTest::newRow("missing file") << "exit 0"
                                      << "Missing.wav" << QStringList {};
    }
    void playsThroughPaplayElseAplay()
    {
        QFETCH(QString, paplay);
        QFETCH(QString, file);
        QFETCH(QStringList, expected);
        FakePrograms fakes;
        if (paplay != u"none")
            fakes.add("paplay", paplay);
        fakes.add("aplay");
        ProcessSoundPlayer player;
        player.play(file);
        QTRY_COMPARE(fakes.read(), expected);
        QTest::qWait(100);
        QCOMPARE(fakes.read(), expected);
    }

    void newSoundEndsThePreviousWithoutWaiting()
    {
        // A player that hangs, as paplay does when the sound server hangs; it records its process id.
        FakePrograms fakes;
        fakes.add("paplay", "echo $$ >> \"$0.pid\"; exec /bin/sleep 30");
        ProcessSoundPlayer player;
        player.play(m_sound);
        QTRY_COMPARE(fakes.read("paplay.pid").size(), 1);
        QElapsedTimer clock;
        clock.start();
        player.play(m_sound);
        QVERIFY(clock.elapsed() < 1000);
        QTRY_COMPARE(fakes.read("paplay.pid").size(), 2);
        QTRY_VERIFY(::kill(fakes.read("paplay.pid")[0].toInt(), 0) != 0); // killed and reaped
        QCOMPARE(::kill(fakes.read("paplay.pid")[1].toInt(), 0), 0);
    }
};

QTEST_GUILESS_MAIN(TestProcessSoundPlayer)
#include "tst_ProcessSoundPlayer.moc"
