#include "ConnectionProbe.h"
#include "NetConnectionWatch.h"
#include "OptionsModel.h"
#include "SoundPlayer.h"
#include "StatusReporter.h"

#include <QtTest>

namespace {
// The probe's answer, and the sounds, status texts and signals in the order they happened.
struct Rig final : ConnectionProbe, SoundPlayer, StatusReporter
{
    Rig()
    {
        // Set after the watch was made, and never saved: it plays the dialog's current text.
        options.set(&Settings::netConnectedSound, QString("dir with blank/up.wav"));
        options.set(&Settings::netDisconnectedSound, QString("down.wav"));
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
};

QTEST_GUILESS_MAIN(TestNetConnectionWatch)
#include "tst_NetConnectionWatch.moc"
