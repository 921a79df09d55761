#include "CommandLine.h"

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void splitsLikeAShell(); // out of the class, after it: moc cannot read raw strings
};

void TestCommandLine::splitsLikeAShell()
{
    const std::pair<QString, QStringList> lines[] {
        { "  xmessage   -center\thello ", { "xmessage", "-center", "hello" } },
        { R"(/bin/sh -c 'echo "$HOME" \ >> log')", { "/bin/sh", "-c", R"(echo "$HOME" \ >> log)" } },
        { R"(notify "Port \"23\" \\ \$x \n")", { "notify", R"(Port "23" \ $x \n)" } },
        { R"(my\ tool a\'b)", { "my tool", "a'b" } },
        { R"(--name='a b'"c d"e)", { "--name=a bc de" } },
        { R"(prog '' "")", { "prog", "", "" } },
        { "prog 'a b", { "prog", "a b" } }, // an unterminated quote runs to the end
        { "   ", {} },
    };
    for (const auto& [line, words] : lines)
        QCOMPARE(CommandLine::splitWords(line), words);
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_CommandLine.moc"
