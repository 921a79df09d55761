#include "AlertActions.h"
#include "IntruderRecord.h"
#include "ProcessProgramLauncher.h"

#include <QFile>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QtTest>

// The attack program learns about the intrusion from its environment only: its command line is the
// one the user wrote, whatever the address.
class TestAttackProgram : public QObject
{
    Q_OBJECT

private slots:
    void environmentCarriesTheIntrusion();
};

void TestAttackProgram::environmentCarriesTheIntrusion()
{
    // The suite's own variables (the package under test) would pass through to the program too.
    for (const QString& name : QProcessEnvironment::systemEnvironment().keys())
        if (name.startsWith("SENTREL_"))
            qunsetenv(name.toLocal8Bit().constData());
    QTemporaryDir dir;
    const QString script = dir.filePath("record me.sh");
    {
        QFile file(script);
        QVERIFY(file.open(QIODevice::WriteOnly));
        // Arguments one a line, then the variables; renamed into place so the test never reads
        // half a file.
        file.write("#!/bin/sh\nout=\"$(dirname \"$0\")/out\"\n"
                   "{ printf 'arg:%s\\n' \"$@\"; env | grep '^SENTREL_' | sort; } > \"$out.tmp\"\n"
                   "mv \"$out.tmp\" \"$out\"\n");
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    IntruderRecord intruder;
    intruder.intruderIP = "2001:db8::7";
    intruder.attackedPort = 12345;
    intruder.sourcePort = 1;
    intruder.time = QDateTime(QDate(2026, 3, 1), QTime(14, 5, 9, 42), Qt::OffsetFromUTC, -5 * 3600);

    ProcessProgramLauncher launcher;
    QVERIFY(launcher.start('"' + script + "\" --block 'two words'", AlertActions::attackEnvironment(intruder)));

    QFile out(dir.filePath("out"));
    QTRY_VERIFY_WITH_TIMEOUT(out.exists(), 10000);
    QVERIFY(out.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(out.readAll()),
        QString("arg:--block\narg:two words\n"
                "SENTREL_ADDRESS=2001:db8::7\nSENTREL_PORT=12345\nSENTREL_SOURCE_PORT=1\n"
                "SENTREL_TIME=2026-03-01T14:05:09.042-05:00\n"));
}

QTEST_GUILESS_MAIN(TestAttackProgram)
#include "tst_AttackProgram.moc"
