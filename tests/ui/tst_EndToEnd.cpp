#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <arpa/inet.h>
#include <csignal>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
mode_t modeOf(const QString& path)
{
    struct stat status {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode & 07777 : 0;
}
} // namespace

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
    const mode_t umask = ::umask(0); // what it creates is private all the same
    sentrel.start(m_isolation.first(), m_isolation.mid(1) + QStringList { SENTREL_BINARY });
    ::umask(umask);
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
    QCOMPARE(modeOf(store.fileName()), mode_t(0600));

    ::kill(pid_t(sentrel.processId()), SIGTERM);
    QVERIFY(sentrel.waitForFinished(10000));
    QCOMPARE(sentrel.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sentrel.exitCode(), 0);
}

namespace {
// Moves this test's thread into a network of its own with its loopback up, so that no other test
// can take its port and nothing outside sees the burst: as root at once, else inside a user
// namespace of its own. The program started from here runs in it too.
bool enterPrivateNetwork()
{
    if (::unshare(CLONE_NEWNET) != 0) {
        const QByteArray map = QByteArray::number(::geteuid()) + ' ' + QByteArray::number(::geteuid()) + " 1";
        QFile uidMap("/proc/self/uid_map");
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0 || !uidMap.open(QIODevice::WriteOnly)
            || uidMap.write(map) != map.size())
            return false;
    }
    ifreq loopback {};
    std::strcpy(loopback.ifr_name, "lo");
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    bool up = ::ioctl(fd, SIOCGIFFLAGS, &loopback) == 0;
    loopback.ifr_flags |= IFF_UP;
    up = up && ::ioctl(fd, SIOCSIFFLAGS, &loopback) == 0;
    ::close(fd);
    return up;
}

// A free port below the range the system hands out for port 0 and for outgoing connections, so
// that neither this test's own connections nor another test's listener can take it meanwhile.
int freeFixedPort()
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        const int port = 10000 + QRandomGenerator::global()->bounded(10000);
        QTcpServer probe;
        if (probe.listen(QHostAddress::Any, quint16(port)))
            return port;
    }
    return 0;
}

// One connection, given up after a while: a queue nobody takes from retries for minutes.
bool connectOnce(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const timeval limit { 2, 0 };
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
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
// one may be cut, where the kernel cut the write. What it wrote stays its user's, whatever the umask.
void TestEndToEnd::sigkillMidBurstLeavesOnlyWholeLogEntries()
{
    if (!enterPrivateNetwork())
        qInfo("no private network namespace can be made here; using a port below the ephemeral range");
    QTemporaryDir home;
    const int port = freeFixedPort();
    QVERIFY(port > 0);
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
    // Into a file: a pipe this test stops reading during the burst fills up and stops the program.
    const QString outPath = home.filePath("out.txt");
    sentrel.setStandardOutputFile(outPath);
    const mode_t umask = ::umask(0);
    sentrel.start(SENTREL_BINARY);
    ::umask(umask);
    QVERIFY(sentrel.waitForStarted(5000));
    QFile outFile(outPath);
    QVERIFY(outFile.open(QIODevice::ReadOnly));
    QByteArray out;
    const QByteArray listening = "Monitoring Port: " + QByteArray::number(port) + "\n";
    QDeadlineTimer deadline(20000);
    while (!(out += outFile.readAll()).contains(listening) && !deadline.hasExpired())
        QTest::qWait(50);
    QVERIFY2(out.contains(listening), out.constData());

    // Kill once entries are reaching the file, with connections still coming.
    QFile log(home.filePath("data/Sentrel/Log.txt"));
    int made = 0;
    for (deadline.setRemainingTime(20000); !deadline.hasExpired() && log.size() < 5000;)
        made += connectOnce(port);
    ::kill(pid_t(sentrel.processId()), SIGKILL);
    deadline.setRemainingTime(10000);
    for (int i = 0; i < 200 && !deadline.hasExpired(); ++i)
        made += connectOnce(port);
    QVERIFY(sentrel.waitForFinished(10000));
    QVERIFY(made > 0);

    QCOMPARE(modeOf(home.filePath("data/Sentrel")), mode_t(0700));
    for (const char* file : { "data/Sentrel/Log.txt", "data/Sentrel/events.jsonl", "config/Sentrel II.ini" })
        QVERIFY2(modeOf(home.filePath(file)) == 0600, file);
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
