#include "CommandLine.h"

#include <QtTest>

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void splitsLikeAShell_data();
    void splitsLikeAShell();
};

void TestCommandLine::splitsLikeAShell_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("words");
    QTest::newRow("blanks") << "  xmessage   -center\thello "
                            << QStringList { "xmessage", "-center", "hello" };
    QTest::newRow("single quotes keep everything")
        << R"(/bin/sh -c 'echo "$HOME" \ >> log')"
        << QStringList { "/bin/sh", "-c", R"(echo "$HOME" \ >> log)" };
    QTest::newRow("double quotes and their escapes")
        << R"(notify "Port \"23\" \\ \$x \n")" << QStringList { "notify", R"(Port "23" \ $x \n)" };
    QTest::newRow("backslash outside quotes") << R"(my\ tool a\'b)" << QStringList { "my tool", "a'b" };
    QTest::newRow("quotes join one word") << R"(--name='a b'"c d"e)" << QStringList { "--name=a bc de" };
    QTest::newRow("empty quoted word stays a word") << R"(prog '' "")" << QStringList { "prog", "", "" };
    QTest::newRow("unterminated quote runs to the end") << "prog 'a b" << QStringList { "prog", "a b" };
    QTest::newRow("nothing") << "   " << QStringList {};
}

void TestCommandLine::splitsLikeAShell()
{
    QFETCH(QString, line);
    QTEST(CommandLine::splitWords(line), "words");
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_CommandLine.moc"
