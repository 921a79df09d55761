#pragma once

#include "DisplaySession.h"
#include "WallpaperChanger.h"

#include <QObject>

#include <functional>

// Sets the wallpaper the way the running desktop keeps it: GNOME and its relatives in their
// gsettings schema, XFCE in xfconf, KDE Plasma through its scripting interface (on X11 and Wayland
// alike), any other Wayland desktop through the desktop portal, and any other X11 desktop on the
// root window through feh when it is installed. Every tool is started and left alone, the portal
// is not waited for; the window never waits for one.
class DesktopWallpaperChanger final : public QObject, public WallpaperChanger
{
    Q_OBJECT

public:
    enum class Desktop { Gnome, Cinnamon, Mate, Xfce, Plasma, Other };

    // desktop: the value of XDG_CURRENT_DESKTOP, a colon-separated list of names.
    // wayland: the session is a Wayland one, whichever display the program itself uses.
    explicit DesktopWallpaperChanger(const QString& desktop = qEnvironmentVariable("XDG_CURRENT_DESKTOP"),
        bool wayland = DisplaySession::isWaylandSession(), QObject* parent = nullptr);

    static Desktop desktopFromName(const QString& desktop);
    // How the wallpaper is set on that desktop, in words.
    static QString methodName(Desktop desktop, bool wayland);

    void changeWallpaper(const QString& imagePath) override;

private:
    static void setGsettingsKey(const QString& schema, const QString& key, const QString& value);
    // Starts the program, leaves it alone, and hands its output on once it has finished.
    void runThen(
        const QString& executable, const QStringList& arguments, std::function<void(const QByteArray&)> next);
    void setGnomePictureUris(const QString& uri);
    void setXfceBackdrops(const QString& imagePath);
    static void setPlasmaWallpaper(const QString& uri);
    static void setRootWindowImage(const QString& imagePath);
    static void setThroughPortal(const QString& uri);

    Desktop m_desktop;
    bool m_wayland;
};
