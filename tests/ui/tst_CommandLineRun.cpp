#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

// How a row's start is surrounded.
enum class Setup {
    Plain,
    // Another start of the same user listens on the session's socket.
    FirstRunning,
    // A copy of the program outside its build tree, in a mount namespace where another user put
    // files of the assets' names at the build tree's asset folder.
    PlantedBuildAssets,
};
Q_DECLARE_METATYPE(Setup)

// The real program started from its command line, as a service or a script starts it: what it
// prints on each channel and how it exits.
class TestCommandLineRun : public QObject
{
    Q_OBJECT

private slots:
    void run_data();
    void run();
    void sigtermEndsTheOpenIncidents();
};

void TestCommandLineRun::run_data()
{
    QTest::addColumn<QStringList>("arguments"); // %d: the settings folder
    QTest::addColumn<bool>("portBusy");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out"); // a pattern for all of standard output; %p: the port
    QTest::addColumn<QString>("err"); // a pattern standard error must contain
    QTest::addColumn<Setup>("setup");

    const QString checkPassed = "^Check passed: an intrusion on port %p reached the status display, Log.txt, "
                                "events.jsonl in [0-9.]+ ms\n$";
    QTest::newRow("check passes") << QStringList { "--check", "--config-dir", "%d" } << false << 0
                                  << checkPassed << "" << Setup::Plain;
    QTest::newRow("check fails, nothing armed") << QStringList { "--config-dir", "%d", "--check" } << true
                                                << 1 << "^Check failed: no port could be armed: %p in_use\n$"
                                                << "" << Setup::Plain;
    QTest::newRow("version") << QStringList { "--version" } << false << 0 << "^sentrel [0-9.]+\n$"
                             << "" << Setup::Plain;
    QTest::newRow("help lists the options")
        << QStringList { "--help" } << false << 0 << "--headless(.|\n)*--config-dir <folder>(.|\n)*--check"
        << "" << Setup::Plain;
    QTest::newRow("unknown option") << QStringList { "--bogus" } << false << 2 << "^$"
                                    << "sentrel: Unknown option 'bogus'.\nTry 'sentrel --help'.\n"
                                    << Setup::Plain;
    QTest::newRow("stray argument") << QStringList { "--headless", "now" } << false << 2 << "^$"
                                    << "unexpected argument 'now'" << Setup::Plain;
    QTest::newRow("a second start defers")
        << QStringList {} << false << 0
        << "^Sentrel is already running; its window was asked to come forward.\n$"
        << "" << Setup::FirstRunning;
    QTest::newRow("installed, it never takes the build tree's files") << QStringList { "--check",
        "--config-dir", "%d" } << false << 0 << checkPassed << "" << Setup::PlantedBuildAssets;
}

void TestCommandLineRun::run()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, portBusy);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);
    QFETCH(Setup, setup);

    QTemporaryDir home;
    QTcpServer busy;
    QVERIFY(busy.listen(QHostAddress::Any));
    const QString port = QString::number(busy.serverPort());
    if (!portBusy)
        busy.close();
    // A store that already carries its marker: one port, the log on, no sound, no system log.
    {
        QSettings store(home.filePath("cfg/Sentrel II.ini"), QSettings::IniFormat);
        store.setValue("General/Start", "Sentrel II");
        store.setValue("General/Start Monitoring", "1");
        store.setValue("General/Logs", "True");
        store.setValue("Sounds/On", "False");
        store.setValue("Ports/Number", "0");
        store.setValue("Ports/0", port);
        store.setValue("Events/Syslog", "0");
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_RUNTIME_DIR" })
        env.remove(name); // Qt has something to say about both; none of it belongs on standard output
    env.insert("HOME", home.path());
    env.insert("XDG_CONFIG_HOME", home.filePath("config"));
    env.insert("XDG_DATA_HOME", home.filePath("data"));

    QString program = SENTREL_BINARY;
    arguments.replaceInStrings("%d", home.filePath("cfg"));
    QLocalServer first;
    if (setup == Setup::FirstRunning) {
        QVERIFY(QDir().mkdir(home.filePath("run"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        env.insert("XDG_RUNTIME_DIR", home.filePath("run"));
        QVERIFY(first.listen(home.filePath("run/sentrel.socket")));
    } else if (setup == Setup::PlantedBuildAssets) {
        const QString unshare = QStandardPaths::findExecutable("unshare");
        QString flags;
        for (const char* candidate : { "-rm", "-m" }) {
            if (flags.isEmpty() && !unshare.isEmpty()
                && QProcess::execute(unshare, { candidate, "true" }) == 0)
                flags = candidate;
        }
        if (flags.isEmpty())
            QSKIP("no private mount namespace can be made here (unshare -rm / -m)");
        QVERIFY(QDir().mkpath(home.filePath("planted")) && QDir().mkpath(home.filePath("bin")));
        for (const char* name : { "NetOn.wav", "ReadMe.html" }) {
            QFile planted(home.filePath("planted/") + name);
            QVERIFY(planted.open(QIODevice::WriteOnly) && planted.write("planted") == 7);
        }
        QVERIFY(QFile::copy(program, home.filePath("bin/sentrel")));
        // The asset folder the build tree's program is compiled to look in.
        const QString buildAssets = QFileInfo(program).absoluteDir().filePath("../assets/files");
        QVERIFY(QFileInfo(buildAssets).isDir());
        arguments = QStringList { flags, "sh", "-c", R"(mount --bind "$1" "$2" && shift 2 && exec "$@")",
            "sh", home.filePath("planted"), buildAssets, home.filePath("bin/sentrel") }
            + arguments;
        program = unshare;
    }

    QProcess sentrel;
    sentrel.setProcessEnvironment(env);
    sentrel.start(program, arguments);
    QVERIFY(sentrel.waitForFinished(30000));
    const QString stdOut = QString::fromUtf8(sentrel.readAllStandardOutput());
    const QString stdErr = QString::fromUtf8(sentrel.readAllStandardError());
    QVERIFY2(QRegularExpression(QString(out).replace("%p", port)).match(stdOut).hasMatch(),
        qPrintable(stdOut + "\n--\n" + stdErr));
    QVERIFY2(stdErr.contains(err), qPrintable(stdErr));
    QCOMPARE(sentrel.exitCode(), exitCode);
    QVERIFY(!stdErr.contains("XDG_RUNTIME_DIR") && !stdErr.contains("propagateSizeHints"));

    if (arguments.contains("--check") && exitCode == 0) {
        // The store named on the command line was used; the check's intrusion is in the event log.
        QFile events(home.filePath("data/Sentrel/events.jsonl"));
        QVERIFY(events.open(QIODevice::ReadOnly));
        QVERIFY(events.readAll().contains(R"("event":"intrusion","host":)"));
        QVERIFY(!QFile::exists(home.filePath("config/Sentrel II.ini")));
    }
    if (setup == Setup::FirstRunning) {
        QVERIFY(first.waitForNewConnection(5000));
        QLocalSocket* asking = first.nextPendingConnection();
        QVERIFY(asking->bytesAvailable() > 0 || asking->waitForReadyRead(5000));
        QCOMPARE(asking->readAll(), QByteArray("show\n"));
    }
    for (const char* name : { "NetOn.wav", "ReadMe.html" }) {
        QFile copied(home.filePath("data/Sentrel/") + name);
        QVERIFY(!copied.open(QIODevice::ReadOnly) || copied.readAll() != "planted");
    }
}

// Ended by a signal in the middle of a scan, the program still writes each open incident's
// ended record, before its own exit record.
void TestCommandLineRun::sigtermEndsTheOpenIncidents()
{
    QTemporaryDir home;
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::Any));
    const QString port = QString::number(probe.serverPort());
    probe.close();
    {
        QSettings store(home.filePath("cfg/Sentrel II.ini"), QSettings::IniFormat);
        store.setValue("General/Start", "Sentrel II");
        store.setValue("General/Start Monitoring", "1");
        store.setValue("Sounds/On", "False");
        store.setValue("Ports/Number", "0");
        store.setValue("Ports/0", port);
        store.setValue("Events/Syslog", "0");
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name :
        { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_RUNTIME_DIR", "DBUS_SESSION_BUS_ADDRESS" })
        env.remove(name);
    env.insert("HOME", home.path());
    env.insert("XDG_DATA_HOME", home.filePath("data"));
    QProcess sentrel;
    sentrel.setProcessEnvironment(env);
    sentrel.start(SENTREL_BINARY, { "--headless", "--config-dir", home.filePath("cfg") });
    QVERIFY(sentrel.waitForStarted(5000));
    QByteArray out;
    const auto waitFor = [&](const QByteArray& text, int times) {
        QDeadlineTimer deadline(20000);
        while (out.count(text) < times && !deadline.hasExpired() && sentrel.state() == QProcess::Running) {
            sentrel.waitForReadyRead(200);
            out += sentrel.readAllStandardOutput();
        }
        return out.count(text) >= times;
    };
    QVERIFY2(waitFor("Monitoring Port: " + port.toLatin1() + "\n", 1), out.constData());

    // Three sources, one of them twice: three open incidents.
    for (const char* source : { "127.0.0.1", "127.0.0.2", "::1", "127.0.0.1" }) {
        QTcpSocket client;
        QVERIFY(client.bind(QHostAddress(source)));
        client.connectToHost(QHostAddress(source), port.toUShort());
        QVERIFY2(client.waitForConnected(5000), source);
    }
    QVERIFY2(waitFor("End Of Attack\n", 4), out.constData());
    ::kill(pid_t(sentrel.processId()), SIGTERM);
    QVERIFY(sentrel.waitForFinished(10000));
    QCOMPARE(sentrel.exitCode(), 0);

    QFile events(home.filePath("data/Sentrel/events.jsonl"));
    QVERIFY(events.open(QIODevice::ReadOnly));
    const QList<QByteArray> records = events.readAll().trimmed().split('\n');
    QStringList ended;
    for (const QByteArray& line : records) {
        const QJsonObject record = QJsonDocument::fromJson(line).object();
        if (record["event"] == "incident_ended")
            ended << QString::number(record["incident"].toInt()) + ' ' + record["address"].toString();
    }
    QCOMPARE(ended, QStringList({ "1 127.0.0.1", "2 127.0.0.2", "3 ::1" }));
    QVERIFY(records.last().contains(R"("event":"program_exited")"));
}

QTEST_GUILESS_MAIN(TestCommandLineRun)
#include "tst_CommandLineRun.moc"
