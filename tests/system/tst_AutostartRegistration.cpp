#include "AutostartRegistration.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

class TestAutostartRegistration : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void execValueLaunchesAnyPath_data();
    void execValueLaunchesAnyPath();
    void addRemoveAddSwitchesHiddenAndKeepsTheFile();
    void unwritablePlaceChangesNothingAndSaysWhy();

private:
    QString readEntry() const;
    std::unique_ptr<QTemporaryDir> m_home;
};

void TestAutostartRegistration::init()
{
    m_home = std::make_unique<QTemporaryDir>();
    QVERIFY(m_home->isValid());
    qputenv("XDG_CONFIG_HOME", m_home->filePath("config").toUtf8());
}

QString TestAutostartRegistration::readEntry() const
{
    QFile file(m_home->filePath("config/autostart/sentrel.desktop"));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

void TestAutostartRegistration::execValueLaunchesAnyPath_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("exec");

    const auto row = [](const char* name, const char* program, const char* exec) {
        QTest::newRow(name) << QString(program) << QString(exec);
    };
    row("plain", "/usr/bin/sentrel", "/usr/bin/sentrel");
    row("blanks", "/opt/Sentrel II/bin/sentrel", R"("/opt/Sentrel II/bin/sentrel")");
    row("quotes", R"(/a'b"c/sentrel)", R"("/a'b\\"c/sentrel")");
    row("dollar and backquote", "/a$HOME`x`/sentrel", R"("/a\\$HOME\\`x\\`/sentrel")");
    row("backslash", R"(/a\b/sentrel)", R"("/a\\\\b/sentrel")");
    row("percent", "/pct100%x/sentrel", "env /pct100%%x/sentrel");
    row("percent and blank", "/my 100%/sentrel", R"(env "/my 100%%/sentrel")");
    row("shell characters", "/a&b;c|d<e>f~g*h?i#j(k)/s", R"("/a&b;c|d<e>f~g*h?i#j(k)/s")");
}

void TestAutostartRegistration::execValueLaunchesAnyPath()
{
    QFETCH(QString, program);
    QFETCH(QString, exec);

    QCOMPARE(AutostartEntry::execValue(program), exec);
    AutostartRegistration registration(AutostartEntry("sentrel"), [&] { return program; });
    QCOMPARE(registration.addToStartup(), QString());
    QVERIFY2(readEntry().contains("\nExec=" + exec + "\n"), qPrintable(readEntry()));

    const QString validator = QStandardPaths::findExecutable("desktop-file-validate");
    if (validator.isEmpty())
        QSKIP("desktop-file-validate is not installed (desktop-file-utils)");
    QProcess validate;
    validate.setProcessChannelMode(QProcess::MergedChannels);
    validate.start(validator, { m_home->filePath("config/autostart/sentrel.desktop") });
    QVERIFY(validate.waitForFinished(20000));
    const QByteArray complaints = validate.readAll();
    QVERIFY2(validate.exitCode() == 0 && complaints.isEmpty(), complaints.constData());
}

void TestAutostartRegistration::addRemoveAddSwitchesHiddenAndKeepsTheFile()
{
    // The default path is the running executable's own.
    AutostartRegistration registration { AutostartEntry("sentrel") };
    const QString exec = "Exec=" + AutostartEntry::execValue(QCoreApplication::applicationFilePath()) + "\n";
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

void TestAutostartRegistration::unwritablePlaceChangesNothingAndSaysWhy()
{
    QTest::failOnWarning(QRegularExpression(".*"));
    AutostartRegistration registration(AutostartEntry("sentrel"), [] { return QString("/usr/bin/sentrel"); });
    const QString entry = m_home->filePath("config/autostart/sentrel.desktop");
    const QString why = "Cannot write the autostart entry " + entry + ": ";

    // The configuration folder is a file: no autostart folder can be made in it.
    QFile blocker(m_home->filePath("config"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QCOMPARE(registration.addToStartup(), why + "cannot create its folder");
    QCOMPARE(registration.removeFromStartup(), why + "cannot create its folder");
    QVERIFY(QFileInfo(blocker.fileName()).isFile());
    QCOMPARE(blocker.size(), 0);

    // The entry's place is taken by a folder: the atomic write fails and leaves it alone.
    QVERIFY(blocker.remove());
    QVERIFY(QDir().mkpath(entry));
    const QString problem = registration.addToStartup();
    QVERIFY2(problem.startsWith(why) && problem.size() > why.size(), qPrintable(problem));
    QVERIFY(QFileInfo(entry).isDir());
    QCOMPARE(QDir(m_home->filePath("config/autostart")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
        QStringList { "sentrel.desktop" });
}

QTEST_GUILESS_MAIN(TestAutostartRegistration)
#include "tst_AutostartRegistration.moc"
