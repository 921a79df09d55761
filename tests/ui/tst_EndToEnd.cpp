#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// Starts the real program on the offscreen platform with a store of its own. The first start
// switches monitoring on for the default ports, so that program runs in a network namespace of its
// own: its listeners are never reachable from outside this test.
class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void firstStartReportsReadyAndEndsOnSigterm();
    void sigkillMidBurstLeavesOnlyWholeLogEntries();

private:
    QStringList m_isolation;
};

void TestEndToEnd::firstStartReportsReadyAndEndsOnSigterm()
{
    m_isolation.clear();
    for (const QStringList& candidate :
        { QStringList { "unshare", "-rn" }, QStringList { "unshare", "-n" } }) {
        const QString program = QStandardPaths::findExecutable(candidate.first());
        if (!program.isEmpty()
            && QProcess::execute(program, candidate.mid(1) + QStringList { "true" }) == 0) {
            m_isolation = QStringList { program } + candidate.mid(1);
            break;
        }
    }
    if (m_isolation.isEmpty())
        QSKIP("no private network namespace can be made here (unshare -rn / -n)");

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
    const QStringList keys = store.allKeys();
    QCOMPARE(keys.size() - keys.filter(QRegularExpression("^(Events|Alarm)/")).size(), 38);
    QCOMPARE(keys.filter(QRegularExpression("^Alarm/")).size(), 4);
    QCOMPARE(store.value("Events/Event Log").toString(), QString("1"));
    QCOMPARE(store.value("General/Start").toString(), QString("Sentrel II"));

    ::kill(pid_t(sentrel.processId()), SIGTERM);
    QVERIFY(sentrel.waitForFinished(10000));
    QCOMPARE(sentrel.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sentrel.exitCode(), 0);
}

namespace {
bool connectOnce(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(quint16(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool made = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return made;
}
} // namespace

// A program killed while a burst is being logged leaves whole entries behind: only the very last
// one may be cut, where the kernel cut the write.
void TestEndToEnd::sigkillMidBurstLeavesOnlyWholeLogEntries()
{
    QTemporaryDir home;
    int port = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        port = probe.serverPort();
    }
    // A store that already carries its marker: monitoring on one free port, the log on, nothing else.
    {
        QSettings store(home.filePath("config/Sentrel II.ini"), QSettings::IniFormat);
        store.setValue("General/Start", "Sentrel II");
        store.setValue("General/Start Monitoring", "1");
        store.setValue("General/Logs", "True");
        store.setValue("Sounds/On", "False");
        store.setValue("Ports/Number", "0");
        store.setValue("Ports/0", QString::number(port));
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" })
        env.remove(name);
    env.insert("HOME", home.path());
    env.insert("XDG_CONFIG_HOME", home.filePath("config"));
    env.insert("XDG_DATA_HOME", home.filePath("data"));
    env.insert("XDG_RUNTIME_DIR", home.path());
    env.insert("PATH", home.filePath("bin"));

    QProcess sentrel;
    sentrel.setProcessEnvironment(env);
    sentrel.start(SENTREL_BINARY);
    QVERIFY(sentrel.waitForStarted(5000));
    QByteArray out;
    const QByteArray listening = "Monitoring Port: " + QByteArray::number(port) + "\n";
    QDeadlineTimer deadline(20000);
    while (!out.contains(listening) && !deadline.hasExpired()) {
        sentrel.waitForReadyRead(200);
        out += sentrel.readAllStandardOutput();
    }
    QVERIFY2(out.contains(listening), out.constData());

    // Kill once entries are reaching the file, with connections still coming.
    QFile log(home.filePath("data/Sentrel/Log.txt"));
    int made = 0;
    for (deadline.setRemainingTime(20000); !deadline.hasExpired() && log.size() < 5000;)
        made += connectOnce(port);
    ::kill(pid_t(sentrel.processId()), SIGKILL);
    for (int i = 0; i < 200; ++i)
        made += connectOnce(port);
    QVERIFY(sentrel.waitForFinished(10000));
    QVERIFY(made > 0);

    QVERIFY(log.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(log.readAll());
    const QStringList pieces = text.split("\r\nIntruder Information - ");
    QVERIFY2(pieces.size() >= 3 && pieces.first().isEmpty(), qPrintable(text.left(200)));
    const QRegularExpression whole(
        QString("^[^\r\n]+\r\nIP: 127\\.0\\.0\\.1\r\nAttacked Port: %1\r\nMessage: \r\n$").arg(port));
    for (qsizetype i = 1; i + 1 < pieces.size(); ++i)
        QVERIFY2(
            whole.match(pieces[i]).hasMatch(), qPrintable(QString("entry %1: %2").arg(i).arg(pieces[i])));
    QVERIFY(pieces.size() - 1 <= made);
}

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_EndToEnd.moc"
