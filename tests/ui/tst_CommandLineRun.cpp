#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

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

    QTest::newRow("check passes") << QStringList { "--check", "--config-dir", "%d" } << false << 0
                                  << "^Check passed: an intrusion on port %p reached the status display, Log.txt, "
                                     "events.jsonl in [0-9.]+ ms\n$"
                                  << "";
    QTest::newRow("check fails, nothing armed")
        << QStringList { "--config-dir", "%d", "--check" } << true << 1
        << "^Check failed: no port could be armed: %p in_use\n$" << "";
    QTest::newRow("version") << QStringList { "--version" } << false << 0 << "^sentrel [0-9.]+\n$" << "";
    QTest::newRow("help lists the options")
        << QStringList { "--help" } << false << 0
        << "--headless(.|\n)*--config-dir <folder>(.|\n)*--check" << "";
    QTest::newRow("unknown option") << QStringList { "--bogus" } << false << 2 << "^$"
                                    << "sentrel: Unknown option 'bogus'.\nTry 'sentrel --help'.\n";
    QTest::newRow("stray argument") << QStringList { "--headless", "now" } << false << 2 << "^$"
                                    << "unexpected argument 'now'";
}

void TestCommandLineRun::run()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, portBusy);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);

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

    QProcess sentrel;
    sentrel.setProcessEnvironment(env);
    sentrel.start(SENTREL_BINARY, arguments.replaceInStrings("%d", home.filePath("cfg")));
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
        QVERIFY(events.readAll().contains(
            R"("event":"intrusion","host":)"));
        QVERIFY(!QFile::exists(home.filePath("config/Sentrel II.ini")));
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
        client.connectToHost(QHostAddress(source).protocol() == QAbstractSocket::IPv6Protocol
                ? QHostAddress::LocalHostIPv6
                : QHostAddress::LocalHost,
            port.toUShort());
        QVERIFY2(client.waitForConnected(5000), source);
    }
    QVERIFY2(waitFor("End Of Attack\n", 4), out.constData());
    ::kill(pid_t(sentrel.processId()), SIGTERM);
    QVERIFY(sentrel.waitForFinished(10000));
    QCOMPARE(sentrel.exitCode(), 0);

    QFile events(home.filePath("data/Sentrel/events.jsonl"));
    QVERIFY(events.open(QIODevice::ReadOnly));
    QStringList seen; // "incident_ended <n>" and the rest by kind
    for (const QByteArray& line : events.readAll().split('\n')) {
        const QJsonObject record = QJsonDocument::fromJson(line).object();
        const QString kind = record["event"].toString();
        if (kind == "incident_ended")
            seen << kind + ' ' + QString::number(record["incident"].toInt()) + ' '
                    + record["address"].toString();
        else if (!kind.isEmpty() && kind != "intrusion")
            seen << kind;
    }
    QCOMPARE(seen,
        QStringList({ "program_started", "monitoring_started", "incident_ended 1 127.0.0.1",
            "incident_ended 2 127.0.0.2", "incident_ended 3 ::1", "program_exited" }));
}

QTEST_GUILESS_MAIN(TestCommandLineRun)
#include "tst_CommandLineRun.moc"
