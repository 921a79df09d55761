#include "AlertActions.h"
#include "DesktopWallpaperChanger.h"
#include "FakePrograms.h"
#include "IntruderRecord.h"
#include "ProcessProgramLauncher.h"
#include "ProcessSoundPlayer.h"

#include <QFile>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QtTest>

#include <array>
#include <functional>

#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

// The attack program learns about the intrusion from its environment only: its command line is the
// one the user wrote, whatever the address. Nor does it, or any other program Sentrel starts, get
// the capability the service holds.
class TestAttackProgram : public QObject
{
    Q_OBJECT

private slots:
    void environmentCarriesTheIntrusion();
    void childrenStartWithoutCapabilities();
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
    QVERIFY(
        launcher.start('"' + script + "\" --block 'two words'", AlertActions::attackEnvironment(intruder)));

    QFile out(dir.filePath("out"));
    QTRY_VERIFY_WITH_TIMEOUT(out.exists(), 10000);
    QVERIFY(out.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(out.readAll()),
        QString("arg:--block\narg:two words\n"
                "SENTREL_ADDRESS=2001:db8::7\nSENTREL_PORT=12345\nSENTREL_SOURCE_PORT=1\n"
                "SENTREL_TIME=2026-03-01T14:05:09.042-05:00\n"));
}

// What systemd's AmbientCapabilities= does to the service: the capability in the inheritable and
// the ambient set of this thread, which starts the children. False where that is not allowed.
static bool raiseAmbient(unsigned capability)
{
    __user_cap_header_struct header { _LINUX_CAPABILITY_VERSION_3, 0 };
    std::array<__user_cap_data_struct, _LINUX_CAPABILITY_U32S_3> sets {};
    if (::syscall(SYS_capget, &header, sets.data()) != 0 || !(sets[0].permitted & 1u << capability))
        return false;
    sets[0].inheritable |= 1u << capability;
    return ::syscall(SYS_capset, &header, sets.data()) == 0
        && ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_RAISE, capability, 0, 0) == 0;
}

void TestAttackProgram::childrenStartWithoutCapabilities()
{
    QTemporaryDir dir;
    const QString image = dir.filePath("SentrelBg.bmp");
    QFile sound(dir.filePath("Intruder.wav"));
    QVERIFY(sound.open(QIODevice::WriteOnly));
    ProcessSoundPlayer player;
    DesktopWallpaperChanger xfce("XFCE");
    // Every starter, detached or not, each from a thread that holds the capability again.
    const std::vector<std::pair<QString, std::function<void()>>> starts {
        { "attack", [] { QVERIFY(ProcessProgramLauncher().start("attack")); } },
        { "paplay", [&] { player.play(sound.fileName()); } },
        { "feh", [&] { DesktopWallpaperChanger("sway").changeWallpaper(image); } },
        { "xfconf-query", [&] { xfce.changeWallpaper(image); } },
    };
    FakePrograms fakes;
    for (const auto& [name, start] : starts) {
        fakes.add(name, R"(/bin/grep -E '^Cap(Inh|Amb)' /proc/$$/status | /usr/bin/tr '\n' ' ' > "$0.caps")");
        if (!raiseAmbient(CAP_NET_BIND_SERVICE))
            QSKIP("raising an ambient capability as the service has it needs root");
        start();
        QTRY_VERIFY_WITH_TIMEOUT(!fakes.read(name + ".caps").isEmpty(), 10000);
        QCOMPARE(
            fakes.read(name + ".caps")[0].simplified(), "CapInh: 0000000000000000 CapAmb: 0000000000000000");
    }
}

QTEST_GUILESS_MAIN(TestAttackProgram)
#include "tst_AttackProgram.moc"
