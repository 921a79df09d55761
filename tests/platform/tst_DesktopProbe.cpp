#include "DesktopProbe.h"

// What --check says of a desktop, where the display kinds part: the tray, the keys, the wallpaper.
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
                             << "XEmbed|X11 input extension|feh on the root window";
        QTest::newRow("XWayland, portal") << int(Kind::XWayland) << true << true << "sway"
                                          << "XEmbed|portal (org.freedesktop.portal.GlobalShortcuts)|"
                                             "desktop portal (org.freedesktop.portal.Wallpaper)";
        QTest::newRow("XWayland, no portal")
            << int(Kind::XWayland) << true << false << "sway"
            << "XEmbed|X11 input extension, only while an X11 window has focus (no shortcuts portal)|"
               "none (no desktop settings known and no Wallpaper portal)";
        QTest::newRow("Wayland, Plasma") << int(Kind::Wayland) << false << false << "KDE"
                                         << "none (no tray host: the window stays on the task bar)|"
                                            "not available (the desktop offers no GlobalShortcuts portal)|"
                                            "Plasma shell script (org.kde.PlasmaShell)";
    }
    void describe()
    {
        QFETCH(int, display);
        QFETCH(bool, x11Keys);
        QFETCH(bool, portals);
        QFETCH(QString, desktop);
        QFETCH(QString, lines);
        // An X11 tray host is there throughout: only an X11 program can use it.
        const DesktopProbe::Facts facts { DisplaySession::Kind(display), true, true, x11Keys, false, false, portals,
            portals, true, desktop };
        const QStringList said = DesktopProbe::describe(facts);
        QCOMPARE(said.size(), 7);
        QCOMPARE(QStringList({ said[1], said[2], said[5] }).join('|'),
            "Tray: " + lines.section('|', 0, 0) + "|Global hotkeys: " + lines.section('|', 1, 1)
                + "|Wallpaper: " + lines.section('|', 2, 2));
    }
};

QTEST_GUILESS_MAIN(TestDesktopProbe)
#include "tst_DesktopProbe.moc"
