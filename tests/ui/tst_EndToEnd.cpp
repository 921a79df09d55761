#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

// Starts the real program with an empty store on the offscreen platform. The first start switches
// monitoring on for the default ports, so the program runs in a network namespace of its own:
// its listeners are never reachable from outside this test.
class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void firstStartReportsReadyAndEndsOnSigterm();

private:
    QStringList m_isolation;
};

void TestEndToEnd::initTestCase()
{
    for (const QStringList& candidate :
        { QStringList { "unshare", "-rn" }, QStringList { "unshare", "-n" } }) {
        const QString program = QStandardPaths::findExecutable(candidate.first());
        if (!program.isEmpty()
            && QProcess::execute(program, candidate.mid(1) + QStringList { "true" }) == 0) {
            m_isolation = QStringList { program } + candidate.mid(1);
            return;
        }
    }
    QSKIP("no private network namespace can be made here (unshare -rn / -n)");
}

void TestEndToEnd::firstStartReportsReadyAndEndsOnSigterm()
{
    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    env.insert("HOME", home.path());
    env.insert("XDG_CONFIG_HOME", home.filePath("config"));
    env.insert("XDG_DATA_HOME", home.filePath("data"));
    env.insert("XDG_RUNTIME_DIR", home.path());
    env.insert("PATH", home.filePath("bin")); // nothing the program might start is found

    QProcess sentrel;
    sentrel.setProcessEnvironment(env);
    sentrel.setProcessChannelMode(QProcess::SeparateChannels);
    // exec hands the namespace's process over to the program, so the signal reaches it.
    sentrel.start(m_isolation.first(), m_isolation.mid(1) + QStringList { SENTREL_BINARY });
    QVERIFY(sentrel.waitForStarted(5000));

    QByteArray out;
    QDeadlineTimer deadline(20000);
    while (!out.contains("\nReady.\n") && !out.startsWith("Ready.\n") && !deadline.hasExpired()) {
        sentrel.waitForReadyRead(200);
        out += sentrel.readAllStandardOutput();
    }
    QVERIFY2(out.contains("Ready.\n"), out.constData());
    QVERIFY(out.contains("[ ORRA ] - Monitoring Port: 12346\n"));

    QSettings store(home.filePath("config/Sentrel II.ini"), QSettings::IniFormat);
    QCOMPARE(store.allKeys().size(), 38);
    QCOMPARE(store.value("General/Start").toString(), QString("Sentrel II"));

    ::kill(pid_t(sentrel.processId()), SIGTERM);
    QVERIFY(sentrel.waitForFinished(10000));
    QCOMPARE(sentrel.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sentrel.exitCode(), 0);
}

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_EndToEnd.moc"
