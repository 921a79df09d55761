#include "AutostartRegistration.h"
#include "TestFiles.h"

// The autostart entry in a configuration folder of the test's own.
class TestAutostartRegistration : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_home;
    QString entryPath() const { return m_home->filePath("config/autostart/sentrel.desktop"); }
    QString readEntry() const { return QString::fromUtf8(fileBytes(entryPath())); }

private slots:
    void init()
    {
        m_home = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CONFIG_HOME", m_home->filePath("config").toUtf8());
    }

    // Whatever the program's path holds, the entry launches it and passes the validator.
    void execValueLaunchesAnyPath(); // out of the class, after it: moc cannot read raw strings
    // Removing hides the entry rather than deleting it; the default path is the running executable's.
    void addRemoveAddSwitchesHiddenAndKeepsTheFile()
    {
        AutostartRegistration registration { AutostartEntry("sentrel") };
        const QString exec
            = "Exec=" + AutostartEntry::execValue(QCoreApplication::applicationFilePath()) + "\n";
        for (const auto& [add, hidden] : { std::pair { true, "false" }, { false, "true" }, { false, "true" },
                 { true, "false" }, { true, "false" } }) {
            QCOMPARE(add ? registration.addToStartup() : registration.removeFromStartup(), QString());
            const QString entry = readEntry();
            QVERIFY(entry.contains(exec));
            QCOMPARE(entry.count("Hidden="), 1);
            QVERIFY2(entry.endsWith(QString("Hidden=") + hidden + "\n"), qPrintable(entry));
        }
        QCOMPARE(QDir(m_home->filePath("config/autostart")).entryList(QDir::Files | QDir::Hidden),
            QStringList { "sentrel.desktop" });
    }

    void unwritablePlaceChangesNothingAndSaysWhy()
    {
        QTest::failOnWarning(QRegularExpression(".*"));
        AutostartRegistration registration(
            AutostartEntry("sentrel"), [] { return QString("/usr/bin/sentrel"); });
        const QString why = "Cannot write the autostart entry " + entryPath() + ": ";
        const QString blocker = m_home->filePath("config"); // a file: no autostart folder can be made in it
        QVERIFY(writeFile(blocker, {}));
        QCOMPARE(registration.addToStartup(), why + "cannot create its folder");
        QCOMPARE(registration.removeFromStartup(), why + "cannot create its folder");
        QVERIFY(QFileInfo(blocker).isFile() && QFileInfo(blocker).size() == 0);

        QVERIFY(QFile::remove(blocker) && QDir().mkpath(entryPath())); // a folder in its place fails the write
        const QString problem = registration.addToStartup();
        QVERIFY2(problem.startsWith(why) && problem.size() > why.size(), qPrintable(problem));
        QVERIFY(QFileInfo(entryPath()).isDir());
        QCOMPARE(QDir(m_home->filePath("config/autostart")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
            QStringList { "sentrel.desktop" });
    }
};

void TestAutostartRegistration::execValueLaunchesAnyPath()
{
    const std::pair<QString, QString> execValues[] { { "/usr/bin/sentrel", "/usr/bin/sentrel" },
        { "/opt/Sentrel II/bin/sentrel", R"("/opt/Sentrel II/bin/sentrel")" },
        { R"(/a'b"c/sentrel)", R"("/a'b\\"c/sentrel")" },
        { "/a$HOME`x`/sentrel", R"("/a\\$HOME\\`x\\`/sentrel")" },
        { R"(/a\b/sentrel)", R"("/a\\\\b/sentrel")" }, { "/pct100%x/sentrel", "env /pct100%%x/sentrel" },
        { "/my 100%/sentrel", R"(env "/my 100%%/sentrel")" },
        { "/a&b;c|d<e>f~g*h?i#j(k)/s", R"("/a&b;c|d<e>f~g*h?i#j(k)/s")" } };
    const bool validator = !QStandardPaths::findExecutable("desktop-file-validate").isEmpty();
    for (const auto& [program, exec] : execValues) {
        AutostartRegistration registration(AutostartEntry("sentrel"), [p = program] { return p; });
        QCOMPARE(registration.addToStartup(), QString());
        QVERIFY2(readEntry().contains("\nExec=" + exec + "\n"), qPrintable(readEntry()));
        if (!validator)
            continue;
        QProcess validate;
        validate.setProcessChannelMode(QProcess::MergedChannels);
        validate.start("desktop-file-validate", { entryPath() });
        QVERIFY(validate.waitForFinished(20000));
        QVERIFY2(validate.exitCode() == 0 && validate.peek(1).isEmpty(), validate.readAll().constData());
    }
    if (!validator)
        QSKIP("desktop-file-validate is not installed (desktop-file-utils)");
}

QTEST_GUILESS_MAIN(TestAutostartRegistration)
#include "tst_AutostartRegistration.moc"
