#include "CommandLine.h"
#include "OptionsCommands.h"
#include "OptionsModel.h"
#include "PortEntry.h"

#include <QtTest>

namespace {
// Answers the dialog's questions with prepared text.
struct Answers final : OptionsPrompts
{
    QString chooseFile() override { return file; }
    QString askPort() override { return port; }
    QString file;
    QString port;
};
} // namespace

class TestOptionsCommands : public QObject
{
    Q_OBJECT

private slots:
    void portEntry_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QString>("entry"); // null: rejected

        const QLocale c = QLocale::c(), en(QLocale::English, QLocale::UnitedStates),
                      de(QLocale::German, QLocale::Germany);
        QTest::newRow("default text") << "0000" << c << "0";
        QTest::newRow("blanks around") << " 443 " << c << "443";
        QTest::newRow("half down to even") << "80.5" << c << "80";
        QTest::newRow("half up to even") << "81.5" << c << "82";
        QTest::newRow("negative half to even") << "-2.5" << c << "-2";
        QTest::newRow("largest") << "2147483647" << c << "2147483647";
        QTest::newRow("smallest") << "-2147483648" << c << "-2147483648";
        // Beyond the int range once rounded, not a number, nothing.
        for (const char* typed : { "2147483648", "2147483647.5", "abc", "80abc", "", "inf" })
            QTest::addRow("rejected \"%s\"", typed) << QString(typed) << c << QString();
        QTest::newRow("grouping, English") << "12,345" << en << "12345";
        QTest::newRow("grouping, German") << "12.345" << de << "12345";
        QTest::newRow("decimal comma, German") << "80,5" << de << "80";
    }

    void portEntry()
    {
        QFETCH(QString, typed);
        QFETCH(QLocale, locale);
        QFETCH(QString, entry);
        QCOMPARE(::portEntry(typed, locale).value_or(QString()), entry);
    }

    void removePorts_data()
    {
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<QList<int>>("kept"); // of 25 entries "0" to "24"

        QList<int> every, twenty;
        for (int i = 0; i < 25; ++i)
            every << i;
        for (int i = 2; i < 22; ++i)
            twenty << i;
        QTest::newRow("non-adjacent") << QList<int> { 4, 0, 2 } << QList<int> { 1, 3 } + every.mid(5);
        QTest::newRow("every one") << every << QList<int> {};
        QTest::newRow("twenty adjacent") << twenty << (QList<int> { 0, 1, 22, 23, 24 });
        QTest::newRow("none") << QList<int> {} << every;
    }

    void removePorts()
    {
        QFETCH(QList<int>, selected);
        QFETCH(QList<int>, kept);

        OptionsModel options;
        for (int i = 0; i < 25; ++i)
            options.appendPort(QString::number(i));
        OptionsCommands(options, {}).removePorts(selected);
        QStringList expected;
        for (int value : kept)
            expected << QString::number(value);
        QCOMPARE(options.ports(), expected);
    }

    void browse_data()
    {
        QTest::addColumn<int>("button");
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("shown");

        using T = OptionsModel::Text;
        QTest::addColumn<int>("text");
        const auto row = [](const char* name, int button, const char* chosen, const char* shown, T text) {
            QTest::newRow(name) << button << QString(chosen) << QString(shown) << int(text);
        };
        row("start program, plain", 0, "/usr/bin/xterm", "/usr/bin/xterm", T::StartRun);
        row("attack program, blank", 1, "/opt/My Tools/alarm", "\"/opt/My Tools/alarm\"", T::AttackRun);
        row("program, quotes and backslash", 0, "/tmp/it's \"q\"\\x", "\"/tmp/it's \\\"q\\\"\\\\x\"",
            T::StartRun);
        row("intruder sound, blank kept", 4, "/snd/My Alarm.wav", "/snd/My Alarm.wav", T::Sound2);
        row("folder", 5, "/usr/share", "/usr/share", T::Sound3);
        row("cancelled", 2, "", "None", T::Sound0);
        row("cancelled program", 1, "", "None", T::AttackRun);
    }

    void browse()
    {
        QFETCH(int, button);
        QFETCH(QString, chosen);
        QFETCH(QString, shown);
        QFETCH(int, text);

        OptionsModel options;
        options.setText(OptionsModel::Text(text), "previous");
        OptionsCommands commands(options, {});
        Answers answers;
        answers.file = chosen;
        commands.setPrompts(&answers);
        commands.browse(button);
        QCOMPARE(options.text(OptionsModel::Text(text)), shown);
        // A chosen program runs as the one word it was chosen as.
        if (button < 2 && !chosen.isEmpty())
            QCOMPARE(CommandLine::splitWords(shown), QStringList { chosen });
    }
};

QTEST_GUILESS_MAIN(TestOptionsCommands)
#include "tst_OptionsCommands.moc"
