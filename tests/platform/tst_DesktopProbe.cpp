#include "DesktopProbe.h"

// What --check says of a desktop where the display kinds part: the tray, the keys, the wallpaper.
// An X11 tray host is there throughout; only an X11 program can use it.
class TestDesktopProbe : public QObject
{
    Q_OBJECT

private slots:
    void describe_data()
    {
        QTest::addColumn<int>("display");
        QTest::addColumn<bool>("x11Keys");
        QTest::addColumn<bool>("portals"); // shortcuts and wallpaper
        QTest::addColumn<QString>("desktop");
        QTest::addColumn<QString>("lines");
        using Kind = DisplaySession::Kind;
        QTest::newRow("X11") << int(Kind::X11) << true << true << ""
                             << "Tray: XEmbed|Global hotkeys: X11 input extension|Wallpaper: feh on the root window";
        QTest::newRow("XWayland, none") << int(Kind::XWayland) << true << false << "sway"
                                        << "Tray: XEmbed|Global hotkeys: X11 input extension, only while an X11 "
                                           "window has focus (no shortcuts portal)|Wallpaper: none (no desktop "
                                           "settings known and no Wallpaper portal)";
        QTest::newRow("Wayland, Plasma") << int(Kind::Wayland) << false << false << "KDE"
                                         << "Tray: none (no tray host: the window stays on the task bar)|Global "
                                            "hotkeys: not available (the desktop offers no GlobalShortcuts "
                                            "portal)|Wallpaper: Plasma shell script (org.kde.PlasmaShell)";
    }
    void describe()
    {
        QFETCH(int, display);
        QFETCH(bool, x11Keys);
        QFETCH(bool, portals);
        QFETCH(QString, desktop);
        const QStringList said = DesktopProbe::describe(
            { DisplaySession::Kind(display), true, true, x11Keys, false, false, portals, portals, true, desktop });
        QCOMPARE(said.size(), 7);
        QTEST(QStringList({ said[1], said[2], said[5] }).join('|'), "lines");
    }
};

QTEST_GUILESS_MAIN(TestDesktopProbe)
#include "tst_DesktopProbe.moc"
