#include "ConnectionProbe.h"
#include "NetConnectionWatch.h"
#include "OptionsModel.h"
#include "SoundPlayer.h"
#include "StatusReporter.h"

#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

namespace {
// The probe's answer, and the sounds, status texts and signals in the order they happened.
struct Rig final : ConnectionProbe, SoundPlayer, StatusReporter
{
    Rig()
    {
        // Set after the watch was made, and never saved: it plays the dialog's current text.
        options.setText(OptionsModel::Text::Sound0, "dir with blank/up.wav");
        options.setText(OptionsModel::Text::Sound1, "down.wav");
        QObject::connect(&watch, &NetConnectionWatch::connectionChanged, &watch,
            [this](bool connected) { log << (connected ? "signal +" : "signal -"); });
    }
    bool isRemoteConnectionActive() override
    {
        ++readings;
        return connected;
    }
    void play(const QString& fileName) override { log << "play " + fileName; }
    void addStatusLine(const QString& text) override { log << "line " + text; }
    void setStatusText(const QString& text) override { log << "text " + text; }

    bool connected = false;
    int readings = 0;
    QStringList log;
    OptionsModel options;
    NetConnectionWatch watch { *this, *this, options, *this };
};
} // namespace

class TestNetConnectionWatch : public QObject
{
    Q_OBJECT

private slots:
    // Only changes are reported, from one reading per tick; switching the sounds off forgets the
    // connection, a re-apply with sounds on keeps it. Steps: - or + a tick reading down or up, r a
    // re-apply, o sounds switched off and on again.
    void reportsOnlyChanges()
    {
        Rig rig;
        for (const char step : QByteArray("--+r++--+-+o+")) {
            if (step == 'o') {
                rig.watch.setEnabled(false);
                rig.watch.resetNetState();
            }
            if (step == 'r' || step == 'o')
                rig.watch.setEnabled(true);
            rig.connected = step == '+';
            if (step == '+' || step == '-')
                rig.watch.timNetcheckTimer();
        }
        const QStringList up { "play dir with blank/up.wav", "text Net Detected.", "signal +" };
        const QStringList down { "play down.wav", "text Net Disconnected.", "signal -" };
        QCOMPARE(rig.log, up + down + up + down + up + up);
        QCOMPARE(rig.readings, 11);
    }

    // Enabling, also when already on, puts the next tick a full interval (7 s) away.
    void enablingRestartsAFullInterval()
    {
        Rig rig;
        QVERIFY(!rig.watch.isEnabled());
        rig.watch.setEnabled(true);
        QTest::qWait(1000);
        // Timers this long may be 5% off.
        QVERIFY(rig.watch.timer().remainingTime() < 6400);
        rig.watch.setEnabled(true);
        QVERIFY(rig.watch.timer().remainingTime() > 6600);
        rig.watch.setEnabled(false);
        QVERIFY(!rig.watch.isEnabled());
    }

    // The real program in a network namespace of its own, where a default route over a virtual
    // Ethernet pair comes and goes: the connection watch must tell both changes.
    void routeUpThenDownIsDetectedThenDisconnected()
    {
        // Root makes a network namespace directly; elsewhere a user namespace may grant the same.
        QStringList isolation;
        for (const QString flags : { "-n", "-rn" })
            if (isolation.isEmpty()
                && QProcess::execute(
                       "unshare", { flags, "ip", "link", "add", "t0", "type", "veth", "peer", "name", "t1" })
                    == 0)
                isolation = QStringList { "unshare", flags };
        if (isolation.isEmpty())
            QSKIP("needs ip (iproute2) and root, or user namespaces, to make a network namespace with a "
                  "virtual link");

        QTemporaryDir home;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" })
            env.remove(name);
        env.insert("HOME", home.path());
        env.insert("XDG_CONFIG_HOME", home.filePath("config"));
        env.insert("XDG_DATA_HOME", home.filePath("data"));
        env.insert("XDG_RUNTIME_DIR", home.path());
        env.insert("SENTREL", SENTREL_BINARY);
        // The program (first start: sounds on, so the watch runs) reads the steps of the route
        // from the test through the shell's standard input.
        const QString script = QStringLiteral(R"(
            set -e
            ip link add sentrel0 type veth peer name sentrel1
            ip link set sentrel0 up
            ip link set sentrel1 up
            PATH=/nonexistent "$SENTREL" </dev/null &
            program=$!
            while read -r step; do
                ip route $step default dev sentrel0
            done
            kill $program
            wait $program
        )");
        QProcess shell;
        shell.setProcessEnvironment(env);
        shell.start(isolation.first(), isolation.mid(1) + QStringList { "sh", "-c", script });
        QVERIFY(shell.waitForStarted(5000));
        // However the test ends, the end of the steps stops the program inside the namespace.
        const auto finish = qScopeGuard([&] {
            shell.closeWriteChannel();
            shell.waitForFinished(10000);
        });
        QByteArray out;
        const auto waitFor = [&](const QByteArray& text) {
            QDeadlineTimer deadline(25000); // the watch looks every 7 s
            while (!out.contains(text) && !deadline.hasExpired() && shell.state() == QProcess::Running) {
                shell.waitForReadyRead(200);
                out += shell.readAllStandardOutput();
            }
            return out.contains(text);
        };
        QVERIFY2(waitFor("Ready.\n"), out.constData());
        shell.write("add\n");
        QVERIFY2(waitFor("Net Detected.\n"), out.constData());
        shell.write("del\n");
        QVERIFY2(waitFor("Net Disconnected.\n"), out.constData());
    }
};

QTEST_GUILESS_MAIN(TestNetConnectionWatch)
#include "tst_NetConnectionWatch.moc"
