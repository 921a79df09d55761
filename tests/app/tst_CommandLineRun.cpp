#include "KnownHistory.h"
#include "TestFiles.h"

#include <csignal>
#include <cstring>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
mode_t modeOf(const QString& path)
{
    struct stat status = {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode & 07777 : 0;
}

// A network of its own (as root, else in a user namespace): the first start's default ports are
// neither reachable from outside nor taken by another test.
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

// Below the ephemeral range, so that no outgoing connection nor port-0 listener takes it meanwhile.
QString freeFixedPort()
{
    for (int attempt = 0; attempt < 100; ++attempt)
        if (QTcpServer probe;
            probe.listen(QHostAddress::Any, quint16(10000 + QRandomGenerator::global()->bounded(10000))))
            return QString::number(probe.serverPort());
    return {};
}

QMap<QString, QByteArray> filesUnder(const QString& folder)
{
    QMap<QString, QByteArray> files;
    for (QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();) {
        const QString path = it.next();
        files.insert(path, fileBytes(path));
    }
    return files;
}

// Given up after a while: a queue nobody takes from retries for minutes.
bool connectOnce(const QString& port)
{
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, port.toUShort());
    return client.waitForConnected(2000);
}

// The real program in a home of its own, with no display, desktop session or program to start. Given
// ports, its store (in <home>/<storeFolder>) guards those ports, logs, is silent.
struct Program : QProcess
{
    explicit Program(const QStringList& ports = {}, const QString& storeFolder = "config")
    {
        if (!ports.isEmpty()) {
            QSettings store(home.filePath(storeFolder + "/Sentrel II.ini"), QSettings::IniFormat);
            for (const auto& [key, value] : { std::pair { "General/Start", "Sentrel II" },
                     { "General/Start Monitoring", "1" }, { "General/Logs", "True" },
                     { "Sounds/On", "False" }, { "Events/Syslog", "0" } })
                store.setValue(key, value);
            store.setValue("Ports/Number", ports.size() - 1);
            for (qsizetype i = 0; i < ports.size(); ++i)
                store.setValue("Ports/" + QString::number(i), ports[i]);
        }
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name :
            { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "DBUS_SESSION_BUS_ADDRESS" })
            env.remove(name); // Qt's warnings about them do not belong on standard output
        // A runtime folder of its own: a program of this user running elsewhere is none of the test's.
        QDir(home.path()).mkdir("run", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        for (const auto& [name, folder] : { std::pair { "HOME", "" }, { "XDG_CONFIG_HOME", "config" },
                 { "XDG_DATA_HOME", "data" }, { "XDG_RUNTIME_DIR", "run" }, { "PATH", "bin" } })
            env.insert(name, home.filePath(folder));
        setProcessEnvironment(env);
    }
    ~Program() override
    {
        kill();
        waitForFinished(5000);
    }
    // Whether standard output (or the file it goes to) shows the text so many times within 20 s.
    bool waitFor(const QByteArray& text, int times = 1, QFile* file = nullptr)
    {
        for (QDeadlineTimer deadline(20000); out.count(text) < times && !deadline.hasExpired();) {
            file ? QTest::qWait(50) : (void)waitForReadyRead(200);
            out += file ? file->readAll() : readAllStandardOutput();
        }
        return out.count(text) >= times;
    }

    QTemporaryDir home;
    QByteArray out;
};
} // namespace

// The real program started from its command line: what it prints, how it exits, what it leaves behind.
class TestCommandLineRun : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { m_privateNetwork = enterPrivateNetwork(); }
    void run_data()
    {
        // %d: the settings folder; out: a pattern for standard output (%p: the port); err: a text of
        // standard error. "busy": the port is taken; "copied": the program installed outside the build tree.
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        QTest::addColumn<QString>("setup");
        const QStringList check { "--check", "--config-dir", "%d" };
        // Armed where the build tree's watch helper is found; an installed copy finds none.
        const QString watch
            = "Packet watch: (armed|not armed: it needs administrator rights)\nDisplay: none\n(.+\n){6}$";
        const QString reached = ": an intrusion on port %p reached the status display, Log.txt, events.jsonl in "
                                "[0-9.]+ ms\n";
        // Outside the group (or without the helper) the watch is missing, said so with the remedy.
        const QString gaps = "^Check passed with gaps" + reached
            + "Stealth scan watch off: it needs administrator rights\nTo guard the rest, join the group sentrel "
              "and log in again: sudo adduser \\$USER sentrel\n" + watch;
        const bool root = geteuid() == 0;
        const auto row = [](const char* name, const QStringList& arguments, int code, const QString& out,
                             const QString& err = {}, const QString& setup = {}) {
            QTest::newRow(name) << arguments << code << out << err << setup;
        };
        row("check passes", check, root ? 0 : 4, root ? "^Check passed" + reached + watch : gaps);
        row("check fails, nothing armed", { "--config-dir", "%d", "--check" }, 1,
            "^Check failed: no port could be armed: TCP port %p is already open\n" + watch, {}, "busy");
        row("version", { "-v" }, 0, "^sentrel [0-9.]+\n$");
        row("help lists the options", { "--help" }, 0,
            "-h, --help(.|\n)*-v, --version(.|\n)*--headless(.|\n)*--config-dir <folder>(.|\n)*--check");
        row("unknown option", { "--bogus" }, 2, "^$",
            "sentrel: Unknown option 'bogus'.\nTry 'sentrel --help'.\n");
        row("stray argument", { "--headless", "now" }, 2, "^$", "unexpected argument 'now'");
        row("installed, it never takes the build tree's files", check, 4, gaps, {}, "copied");
    }

    void run()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, out);
        QFETCH(QString, err);
        QFETCH(QString, setup);
        QTcpServer busy;
        QVERIFY(busy.listen(QHostAddress::Any));
        const QString port = QString::number(busy.serverPort());
        if (setup != "busy")
            busy.close();
        Program sentrel({ port }, "cfg");
        const QTemporaryDir& home = sentrel.home;
        const QString program = setup == "copied" ? home.filePath("bin/sentrel") : SENTREL_BINARY;
        arguments.replaceInStrings("%d", home.filePath("cfg"));
        if (setup == "copied")
            QVERIFY(QDir().mkpath(home.filePath("bin")) && QFile::copy(SENTREL_BINARY, program));

        sentrel.start(program, arguments);
        QVERIFY(sentrel.waitForFinished(30000));
        const QString stdOut = QString::fromUtf8(sentrel.readAllStandardOutput());
        const QString stdErr = QString::fromUtf8(sentrel.readAllStandardError());
        QVERIFY2(QRegularExpression(QString(out).replace("%p", port)).match(stdOut).hasMatch(),
            qPrintable(stdOut + "\n--\n" + stdErr));
        QVERIFY2(stdErr.contains(err) && !stdErr.contains("XDG_RUNTIME_DIR")
                && !stdErr.contains("propagateSizeHints"),
            qPrintable(stdErr));
        QTEST(sentrel.exitCode(), "exitCode");
        if (arguments.contains("--check") && (sentrel.exitCode() == 0 || sentrel.exitCode() == 4)) {
            QVERIFY(fileBytes(home.filePath("data/Sentrel/events.jsonl"))
                        .contains(R"("event":"intrusion","host":)"));
            QVERIFY(!QFile::exists(home.filePath("config/Sentrel II.ini")));
            QCOMPARE(QFile::exists(home.filePath("data/Sentrel/NetOn.wav")),
                setup != "copied" || QFile::exists(SENTREL_INSTALLED_ASSETS "/NetOn.wav"));
        }
    }

    // A check beside a running program says so and leaves the program, its ports and its files alone.
    void checkBesideARunningProgram()
    {
        const QString port = freeFixedPort();
        Program running({ port });
        running.start(SENTREL_BINARY);
        QVERIFY2(running.waitFor("Ready.\n"), running.out.constData());
        QTest::qWait(500); // what it writes at start-up is written
        const QMap<QString, QByteArray> before = filesUnder(running.home.path());
        QVERIFY(before.contains(running.home.filePath("data/Sentrel/events.jsonl")));
        QProcess check;
        check.setProcessEnvironment(running.processEnvironment());
        check.start(SENTREL_BINARY, { "--check" });
        QVERIFY(check.waitForFinished(30000));
        QTest::qWait(500);
        const QMap<QString, QByteArray> after = filesUnder(running.home.path());
        QCOMPARE(after.keys(), before.keys());
        for (auto file = after.cbegin(); file != after.cend(); ++file)
            QVERIFY2(file.value() == before[file.key()], qPrintable(file.key()));
        const QByteArray out = check.readAllStandardOutput();
        QVERIFY2(out.startsWith("Check not run: Sentrel is already running") && out.count('\n') == 1,
            out.constData());
        QCOMPARE(check.exitCode(), 3);
        QCOMPARE(running.state(), QProcess::Running);
        QVERIFY(connectOnce(port));
    }

    // --history reads the store of a running Sentrel, a known history and what the program itself
    // recorded since, while another connection holds the write lock; it is never handed to that program.
    void historyBesideARunningProgram()
    {
        const QString port = freeFixedPort();
        Program running({ port });
        const QString path = running.home.filePath("data/Sentrel/history.sqlite");
        QVERIFY(QDir().mkpath(running.home.filePath("data/Sentrel")));
        {
            QSqlDatabase known = QSqlDatabase::addDatabase("QSQLITE", "known");
            known.setDatabaseName(path);
            QVERIFY(known.open() && KnownHistory::write(known, QDateTime::currentMSecsSinceEpoch()));
        }
        QSqlDatabase::removeDatabase("known");
        running.start(SENTREL_BINARY);
        QVERIFY2(running.waitFor("Ready.\n"), running.out.constData());
        QVERIFY(connectOnce(port));
        const auto history = [&running](const QStringList& arguments) {
            QProcess reader;
            reader.setProcessEnvironment(running.processEnvironment());
            reader.start(SENTREL_BINARY, QStringList { "--history" } + arguments);
            return reader.waitForFinished(10000) && reader.exitCode() == 0
                ? reader.readAllStandardOutput()
                : "failed" + reader.readAllStandardError();
        };
        QByteArray recorded;
        for (QDeadlineTimer deadline(10000); !recorded.contains("127.0.0.1") && !deadline.hasExpired();
             QTest::qWait(200))
            recorded = history({ "--json", "--port", port });
        const QJsonObject incident = QJsonDocument::fromJson(recorded).object();
        QCOMPARE(incident["ports"].toString() + ' ' + incident["detection"].toString(), port + " connect");

        QSqlDatabase writer = QSqlDatabase::addDatabase("QSQLITE", "writer");
        writer.setDatabaseName(path);
        QVERIFY(writer.open() && QSqlQuery(writer).exec("BEGIN IMMEDIATE"));
        const QList<QByteArray> table = history({ "--since", "24h" }).split('\n');
        QCOMPARE(
            table.size(), 7); // the header, four known incidents, the program's, the end of the last line
        QVERIFY2(table[0].startsWith("Last seen") && table[1].contains("127.0.0.1")
                && table[2].contains("192.0.2.7") && table[5].contains("2001:db8::1  "),
            table.join('\n').constData());
        QCOMPARE(history({ "--address", "192.0.2.0/24", "--csv" }).count("\r\n"), 4);
        writer.close();
        QCOMPARE(running.state(), QProcess::Running);
        QVERIFY(!running.out.contains("--history"));
    }

    // The first start guards the default ports (only in the private network). Ended by SIGTERM mid-scan,
    // it writes each open incident's end before its own exit: three sources, one twice, are three incidents.
    void firstStartAndSigtermMidScan()
    {
        if (!m_privateNetwork)
            QSKIP("no private network namespace can be made here");
        Program sentrel;
        const mode_t umask = ::umask(0); // what it creates is private whatever the umask
        sentrel.start(SENTREL_BINARY);
        ::umask(umask);
        QVERIFY2(sentrel.waitFor("Ready.\n"), sentrel.out.constData());
        QVERIFY(sentrel.out.contains("[ ORRA ] - Monitoring Port: 12346\n"));
        QSettings store(sentrel.home.filePath("config/Sentrel II.ini"), QSettings::IniFormat);
        QCOMPARE(store.value("Events/Event Log").toString() + store.value("General/Start").toString(),
            "1Sentrel II");
        QCOMPARE(modeOf(store.fileName()), mode_t(0600));
        for (const char* source : { "127.0.0.1", "127.0.0.2", "::1", "127.0.0.1" }) {
            QTcpSocket client;
            QVERIFY(client.bind(QHostAddress(source)));
            client.connectToHost(QHostAddress(source), 12346);
            QVERIFY2(client.waitForConnected(5000), source);
        }
        QVERIFY2(sentrel.waitFor("End Of Attack\n", 4), sentrel.out.constData());
        ::kill(pid_t(sentrel.processId()), SIGTERM);
        QVERIFY(sentrel.waitForFinished(10000));
        QCOMPARE(sentrel.exitStatus(), QProcess::NormalExit);
        QCOMPARE(sentrel.exitCode(), 0);
        const QByteArray events = fileBytes(sentrel.home.filePath("data/Sentrel/events.jsonl"));
        QStringList ended;
        QJsonObject record;
        for (const QByteArray& line : events.trimmed().split('\n'))
            if ((record = QJsonDocument::fromJson(line).object())["event"] == "incident_ended")
                ended << QString::number(record["incident"].toInt()) + ' ' + record["address"].toString();
        QCOMPARE(ended, QStringList({ "1 127.0.0.1", "2 127.0.0.2", "3 ::1" }));
        QCOMPARE(record["event"].toString(), "program_exited");
    }

    // A port held elsewhere and an invalid one are named in one status line after the per-port lines; a
    // bad allow-list entry and collector get a line each. Killed mid-burst, it leaves whole log entries
    // (only the last may be cut). What it wrote is private, whatever the umask.
    void partialStartThenSigkillMidBurst()
    {
        QTcpServer taken;
        QVERIFY(taken.listen(QHostAddress::Any));
        const QByteArray busy = QByteArray::number(taken.serverPort());
        const QString port = freeFixedPort();
        Program sentrel({ port, busy, "70000" });
        QTemporaryDir& home = sentrel.home;
        QSettings(home.filePath("config/Sentrel II.ini"), QSettings::IniFormat).setValue("Alarm/Allow", "10.1 ::1");
        QSettings(home.filePath("config/Sentrel II.ini"), QSettings::IniFormat).setValue("Events/Collector", "h");
        // Into a file: a pipe this test stops reading during the burst would stop the program.
        sentrel.setStandardOutputFile(home.filePath("out.txt"));
        const mode_t umask = ::umask(0);
        sentrel.start(SENTREL_BINARY);
        ::umask(umask);
        QFile out(home.filePath("out.txt"));
        QVERIFY(sentrel.waitForStarted(5000) && out.open(QIODevice::ReadOnly));
        const QByteArray unguarded
            = "] - 2 of 3 ports unguarded: " + busy + " is already open; 70000 is not a valid port\n";
        QVERIFY2(sentrel.waitFor(unguarded, 1, &out), sentrel.out.constData());
        QVERIFY(sentrel.out.indexOf(unguarded) > sentrel.out.indexOf("Port: 70000 is not a valid port")
            && sentrel.out.contains("Monitoring Port: " + port.toLatin1() + "\n"));

        QFile log(home.filePath("data/Sentrel/Log.txt"));
        int made = 0;
        for (QDeadlineTimer deadline(20000); !deadline.hasExpired() && log.size() < 5000;)
            made += connectOnce(port);
        ::kill(pid_t(sentrel.processId()), SIGKILL);
        QDeadlineTimer deadline(10000);
        for (int i = 0; i < 200 && !deadline.hasExpired(); ++i)
            made += connectOnce(port);
        QVERIFY(sentrel.waitForFinished(10000) && made > 0);
        const QByteArray said = sentrel.out + out.readAll();
        QCOMPARE(said.count("ports unguarded: "), 1);
        QCOMPARE(said.count("] - Allow list: ignored \"10.1\" (not an IPv4 or IPv6 address)\n"), 1);
        QCOMPARE(said.count("] - Collector \"h\": not host:port, nothing is sent\n"), 1);

        QCOMPARE(modeOf(home.filePath("data/Sentrel")), mode_t(0700));
        for (const char* file :
            { "data/Sentrel/Log.txt", "data/Sentrel/events.jsonl", "config/Sentrel II.ini" })
            QVERIFY2(modeOf(home.filePath(file)) == 0600, file);
        const QString text = QString::fromUtf8(fileBytes(log.fileName()));
        const QStringList pieces = text.split("\r\nIntruder Information - ");
        QVERIFY2(pieces.size() >= 3 && pieces.first().isEmpty(), qPrintable(text.left(200)));
        const QRegularExpression whole(
            QString("^[^\r\n]+\r\nIP: 127\\.0\\.0\\.1\r\nAttacked Port: %1\r\nMessage: \r\n$").arg(port));
        for (qsizetype i = 1; i + 1 < pieces.size(); ++i)
            QVERIFY2(
                whole.match(pieces[i]).hasMatch(), qPrintable(QString("entry %1: %2").arg(i).arg(pieces[i])));
        QVERIFY(pieces.size() - 1 <= made);
    }

private:
    bool m_privateNetwork = false;
};

QTEST_GUILESS_MAIN(TestCommandLineRun)
#include "tst_CommandLineRun.moc"
