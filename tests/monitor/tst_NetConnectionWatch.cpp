#include "ConnectionProbe.h"
#include "NetConnectionWatch.h"
#include "OptionsModel.h"
#include "Recorder.h"

namespace {
// The probe's answer; the sounds, status texts and signals in one log in the order they happened.
struct Rig final : ConnectionProbe
{
    Rig()
    {
        // Set after the watch was made, and never saved: it plays the dialog's current text.
        options.set(&Settings::netConnectedSound, QString("dir with blank/up.wav"));
        options.set(&Settings::netDisconnectedSound, QString("down.wav"));
        QObject::connect(&watch, &NetConnectionWatch::connectionChanged, &watch,
            [this](bool connected) { out.log << (connected ? "signal:+" : "signal:-"); });
    }
    bool isRemoteConnectionActive() override { return ++readings, connected; }

    bool connected = false;
    int readings = 0;
    Recorder out;
    OptionsModel options;
    NetConnectionWatch watch { *this, out, options, out };
};
} // namespace

class TestNetConnectionWatch : public QObject
{
    Q_OBJECT

private slots:
    // Enabling, also when already on, puts the next tick a full interval (7 s) away. Only changes are
    // told, one reading per tick; sounds off forgets the connection, a re-apply keeps it.
    // Steps: - or + a tick reading down or up, r a re-apply, o sounds switched off and on again.
    void reportsOnlyChanges()
    {
        Rig rig;
        QVERIFY(!rig.watch.isEnabled());
        rig.watch.setEnabled(true);
        QTest::qWait(1000);
        QVERIFY(rig.watch.timer().remainingTime() < 6400); // timers this long may be 5% off
        rig.watch.setEnabled(true);
        QVERIFY(rig.watch.timer().remainingTime() > 6600);
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
        const QStringList up { "sound:dir with blank/up.wav", "text:Net Detected.", "signal:+" };
        const QStringList down { "sound:down.wav", "text:Net Disconnected.", "signal:-" };
        QCOMPARE(rig.out.log, up + down + up + down + up + up);
        QCOMPARE(rig.readings, 11);
        rig.watch.setEnabled(false);
        QVERIFY(!rig.watch.isEnabled());
    }

    // The real program in a network namespace of its own, where a default route over a virtual
    // Ethernet pair comes and goes: the watch must tell both changes.
    void routeUpThenDownIsDetectedThenDisconnected()
    {
        const QStringList veth { "-n", "ip", "link", "add", "t0", "type", "veth", "peer", "name", "t1" };
        if (QProcess::execute("unshare", veth) != 0)
            QSKIP("needs root and ip (iproute2) for a network namespace with a virtual link");

        // The program (first start: sounds on, so the watch runs) in a home of its own, without a display;
        // the route's steps come on standard input.
        QTemporaryDir home;
        const QString script = R"(set -e
            ip link add sentrel0 type veth peer name sentrel1 && ip link set sentrel0 up && ip link set sentrel1 up
            unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
            HOME="$1" XDG_RUNTIME_DIR="$1" XDG_CONFIG_HOME="$1/config" XDG_DATA_HOME="$1/data" PATH=/nonexistent \
                "$2" </dev/null &
            program=$!
            while read -r step; do ip route $step default dev sentrel0; done
            kill $program && wait $program)";
        QProcess shell;
        shell.start("unshare", { "-n", "sh", "-c", script, "sh", home.path(), SENTREL_BINARY });
        QVERIFY(shell.waitForStarted(5000));
        const auto finish = qScopeGuard([&] {
            shell.closeWriteChannel();
            shell.waitForFinished(10000);
        });
        QByteArray out;
        const auto waitFor = [&](const QByteArray& text) { // the watch looks every 7 s
            QDeadlineTimer deadline(25000);
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
