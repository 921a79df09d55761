#include <QProcess>
#include <QSettings>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

// The real program started from its command line, as a service or a script starts it: what it
// prints on each channel and how it exits.
class TestCommandLineRun : public QObject
{
    Q_OBJECT

private slots:
    void run_data();
    void run();
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

QTEST_GUILESS_MAIN(TestCommandLineRun)
#include "tst_CommandLineRun.moc"
