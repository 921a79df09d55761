#include "FrmHotkeys.h"
#include "RecordingDesktop.h"

#include <QtTest>

#include <bitset>

namespace {
using namespace std::chrono_literals;

// Answers from a set of keys the test marks as pressed; a key stays pressed until the test lets
// it go, like a held key.
class FakeKeys final : public FunctionKeyState
{
public:
    bool isAvailable() const override { return available; }
    void startWatching() override { ++starts; }
    void stopWatching() override { ++stops; }
    bool takePressed(Key key) override { return pressed.test(key); }

    bool available = true;
    std::bitset<4> pressed;
    int starts = 0;
    int stops = 0;
};

struct Rig
{
    explicit Rig(std::chrono::milliseconds interval = FrmHotkeys::DefaultInterval)
        : poller(keys,
            HotkeyTargets {
                &recorder, &recorder, &recorder, &recorder, &recorder, [this] { recorder.log << "clear"; } },
            interval)
    {
    }

    void press(const QString& names)
    {
        keys.pressed.reset();
        for (const QString& name : names.split(' ', Qt::SkipEmptyParts))
            keys.pressed.set(std::size_t(name.mid(1).toInt() - 9));
    }

    FakeKeys keys;
    RecordingDesktop recorder;
    FrmHotkeys poller;
};
} // namespace

class TestFrmHotkeys : public QObject
{
    Q_OBJECT

private slots:
    void pollRunsEachPressedKeyInOrder_data()
    {
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("actions");
        QTest::addColumn<bool>("loadedAfter");
        const auto row = [](const char* name, const char* keys, const char* actions, bool loadedAfter) {
            QTest::newRow(name) << QString(keys) << QString(actions) << loadedAfter;
        };
        row("none", "", "", true);
        row("F11", "F11", "restore options", false);
        row("F12 F10 F9 in key order", "F12 F10 F9", "restore monitoring restore view restore clear", true);
        row("F11 and F12: F12 still runs", "F12 F11", "restore options restore clear", false);
        row("all four", "F9 F10 F11 F12", "restore monitoring restore view restore options restore clear",
            false);
    }
    void pollRunsEachPressedKeyInOrder()
    {
        QFETCH(QString, keys);
        QFETCH(QString, actions);
        QFETCH(bool, loadedAfter);

        Rig rig;
        rig.poller.load();
        rig.press(keys);
        rig.poller.timHotkeysTimer();
        QCOMPARE(rig.recorder.log.join(' '), actions);
        QCOMPARE(rig.poller.isLoaded(), loadedAfter);
        // Unloading stops watching the keyboard too: after F11 the keys stay dead until a new load.
        QCOMPARE(rig.keys.stops, loadedAfter ? 0 : 1);
    }

    // Loaded, the poller runs on its own and a held key fires every poll; unloaded, or on a desktop
    // without the keys (which it says once), a held key does nothing.
    void pollsOnItsOwnOnlyWhileLoadedOnADesktopWithTheKeys()
    {
        Rig rig(20ms), without(20ms);
        rig.press("F10");
        rig.poller.unload(); // never loaded: nothing to stop
        QCOMPARE(rig.keys.stops, 0);
        rig.poller.load();
        rig.poller.load();
        QCOMPARE(rig.keys.starts, 1);
        without.keys.available = false;
        without.press("F9");
        without.poller.load();
        without.poller.unload();
        without.poller.load();
        QVERIFY(!without.poller.isLoaded());
        QCOMPARE(without.keys.starts, 0);

        QTRY_VERIFY_WITH_TIMEOUT(rig.recorder.log.count("view") >= 3, 5000);
        rig.poller.unload();
        rig.poller.unload();
        QCOMPARE(rig.keys.stops, 1);
        const QStringList settled = rig.recorder.log;
        QTest::qWait(100);
        QCOMPARE(rig.recorder.log, settled);
        QCOMPARE(without.recorder.log, QStringList { "line:Hotkeys are not available on this desktop" });
    }
};

QTEST_GUILESS_MAIN(TestFrmHotkeys)
#include "tst_FrmHotkeys.moc"
