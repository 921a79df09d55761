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
};

QTEST_GUILESS_MAIN(TestNetConnectionWatch)
#include "tst_NetConnectionWatch.moc"
