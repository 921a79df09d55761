#include "AlertActions.h"
#include "DesktopWallpaperChanger.h"
#include "IntruderRecord.h"
#include "ProcessProgramLauncher.h"
#include "ProcessSoundPlayer.h"
#include "TestFiles.h"

#include <array>
#include <csignal>

#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {
// Scripts in a folder that is all of PATH: each appends "name args" to "calls", then runs its commands.
class FakePrograms
{
public:
    FakePrograms() { qputenv("PATH", m_dir.path().toUtf8()); }
    ~FakePrograms() { qputenv("PATH", m_oldPath); }
    void add(const QString& name, const QString& then = {})
    {
        const QString script = m_dir.filePath(name);
        writeFile(
            script, QString("#!/bin/sh\necho \"%1 $*\" >> \"${0%/*}/calls\"\n%2\n").arg(name, then).toUtf8());
        QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QStringList read(const QString& name = "calls") const
    {
        return QString(fileBytes(m_dir.filePath(name))).split('\n', Qt::SkipEmptyParts);
    }

private:
    QTemporaryDir m_dir;
    const QByteArray m_oldPath = qgetenv("PATH");
};

// What the service's ambient capability does: raised in this thread, which starts the children.
bool raiseAmbient(unsigned capability)
{
    __user_cap_header_struct header { _LINUX_CAPABILITY_VERSION_3, 0 };
    std::array<__user_cap_data_struct, _LINUX_CAPABILITY_U32S_3> sets {};
    if (::syscall(SYS_capget, &header, sets.data()) != 0 || !(sets[0].permitted & 1u << capability))
        return false;
    sets[0].inheritable |= 1u << capability;
    return ::syscall(SYS_capset, &header, sets.data()) == 0
        && ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_RAISE, capability, 0, 0) == 0;
}
} // namespace

// The programs the alarm starts: fakes on PATH, except gsettings on its keyfile backend.
class TestChildPrograms : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    const QString m_sound = m_dir.filePath("Intruder Alarm.wav");
    const QString m_image = m_dir.filePath("Program Folder/SentrelBg.bmp");

private slots:
    void initTestCase() { QVERIFY(writeFile(m_sound, {})); }

    // The attack program learns of the intrusion from its environment only; XFCE's image goes to every
    // "last-image" backdrop, other desktops use feh. None gets the capability the service holds.
    void childrenGetTheirArgumentsAndEnvironmentButNoCapabilities()
    {
        for (const QString& name : QProcessEnvironment::systemEnvironment().keys())
            if (name.startsWith("SENTREL_"))
                qunsetenv(name.toLocal8Bit().constData());
        FakePrograms fakes;
        const QString caps
            = R"(/bin/grep -E '^Cap(Inh|Amb)' /proc/$$/status | /usr/bin/tr '\n' ' ' > "$0.caps")";
        for (const char* name : { "paplay", "feh" })
            fakes.add(name, caps);
        fakes.add("attack", // renamed into place so the test never reads half a file
            caps + R"(; { printf 'arg:%s\n' "$@"; /usr/bin/env | /bin/grep '^SENTREL_' | /usr/bin/sort; })"
                   R"( > "$0.tmp" && /bin/mv "$0.tmp" "$0.out")");
        fakes.add("xfconf-query",
            caps + "\n[ \"$3\" = -l ] && printf '%s\\n' /backdrop/screen0/monitor0/workspace0/last-image "
                   "/backdrop/screen0/monitor0/workspace0/image-style "
                   "/backdrop/screen0/monitorHDMI-1/workspace1/last-image");
        const IntruderRecord intruder { "2001:db8::7", 12345, {}, "half_open", true, 1,
            QDateTime(QDate(2026, 3, 1), QTime(14, 5, 9, 42), Qt::OffsetFromUTC, -5 * 3600) };
        const bool ambient = raiseAmbient(CAP_NET_BIND_SERVICE);
        ProcessSoundPlayer player;
        DesktopWallpaperChanger xfce("XFCE");
        QVERIFY(ProcessProgramLauncher().start(
            "attack --block 'two words'", AlertActions::attackEnvironment(intruder)));
        player.play(m_sound);
        DesktopWallpaperChanger("sway", false).changeWallpaper(m_image);
        xfce.changeWallpaper(m_image);
        const QString set = "xfconf-query -c xfce4-desktop -p /backdrop/screen0/%1/last-image -s " + m_image;
        const auto sorted = [](QStringList list) { return list.sort(), list; };
        QTRY_COMPARE(sorted(fakes.read()),
            sorted({ "attack --block two words", "paplay -- " + m_sound, "feh --bg-fill " + m_image,
                "xfconf-query -c xfce4-desktop -l", set.arg("monitor0/workspace0"),
                set.arg("monitorHDMI-1/workspace1") }));
        QTRY_COMPARE(fakes.read("attack.out"),
            QStringList({ "arg:--block", "arg:two words", "SENTREL_ADDRESS=2001:db8::7",
                "SENTREL_DETECTION=half_open", "SENTREL_PORT=12345", "SENTREL_SOURCE_PORT=1",
                "SENTREL_SPOOFABLE=true", "SENTREL_TIME=2026-03-01T14:05:09.042-05:00" }));
        if (!ambient)
            QSKIP("raising an ambient capability as the service has it needs root");
        for (const char* name : { "attack", "paplay", "feh", "xfconf-query" })
            QTRY_COMPARE(fakes.read(name + QString(".caps")).value(0).simplified(),
                "CapInh: 0000000000000000 CapAmb: 0000000000000000");
    }

    // paplay's commands ("none": not installed), the file, the players run ("%1": the sound). A player
    // that hangs (as paplay with a hung sound server) is ended by the next sound, not waited for.
    void playsThroughPaplayElseAplay()
    {
        const std::tuple<const char*, QString, const char*> cases[] { { "exit 0", m_sound, "paplay -- %1" },
            { "exit 1", m_sound, "paplay -- %1|aplay -q -- %1" }, { "none", m_sound, "aplay -q -- %1" },
            { "exit 0", "Missing.wav", "" } };
        for (const auto& [paplay, file, players] : cases) {
            FakePrograms fakes;
            if (paplay != QByteArray("none"))
                fakes.add("paplay", paplay);
            fakes.add("aplay");
            const QString expected = QString(players).replace("%1", m_sound);
            ProcessSoundPlayer player; // its players end with it
            player.play(file);
            QTRY_COMPARE(fakes.read().join('|'), expected);
            QTest::qWait(100);
            QCOMPARE(fakes.read().join('|'), expected);
        }
        FakePrograms fakes;
        fakes.add("paplay", "echo $$ >> \"$0.pid\"; exec /bin/sleep 30");
        ProcessSoundPlayer player;
        player.play(m_sound);
        QTRY_COMPARE(fakes.read("paplay.pid").size(), 1);
        QElapsedTimer clock;
        clock.start();
        player.play(m_sound);
        QVERIFY(clock.elapsed() < 1000);
        QTRY_COMPARE(fakes.read("paplay.pid").size(), 2);
        QTRY_VERIFY(::kill(fakes.read("paplay.pid")[0].toInt(), 0) != 0); // killed and reaped
        QCOMPARE(::kill(fakes.read("paplay.pid")[1].toInt(), 0), 0);
    }

    void gnomeGetsBothPictureUris()
    {
        const QString folder = m_dir.filePath("gnome");
        qputenv("XDG_CONFIG_HOME", (folder + "/config").toUtf8());
        qputenv("GSETTINGS_BACKEND", "keyfile");
        qputenv("GSETTINGS_SCHEMA_DIR", folder.toUtf8());
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(writeFile(folder + "/org.gnome.desktop.background.gschema.xml",
            R"(<schemalist><schema id="org.gnome.desktop.background" path="/org/gnome/desktop/background/">
            <key name="picture-uri" type="s"><default>''</default></key>
            <key name="picture-uri-dark" type="s"><default>''</default></key></schema></schemalist>)"));
        if (QProcess::execute("glib-compile-schemas", { folder }) != 0
            || QStandardPaths::findExecutable("gsettings").isEmpty())
            QSKIP("gsettings and glib-compile-schemas (libglib2.0-bin) are not installed");
        DesktopWallpaperChanger gnome("ubuntu:GNOME"); // its tools end with it
        gnome.changeWallpaper(m_image);
        const QByteArray uri = "='file://" + m_dir.path().toUtf8() + "/Program%20Folder/SentrelBg.bmp'";
        // After "picture-uri" and after "picture-uri-dark".
        QTRY_COMPARE(fileBytes(folder + "/config/glib-2.0/settings/keyfile").count(uri), 2);
    }
};

QTEST_GUILESS_MAIN(TestChildPrograms)
#include "tst_ChildPrograms.moc"
