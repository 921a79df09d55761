#include "DesktopWallpaperChanger.h"

#include "ChildCapabilities.h"
#include "SessionBus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QUrl>

namespace {
const QString XfceChannel = QStringLiteral("xfce4-desktop");

void startDetached(const QString& executable, const QStringList& arguments)
{
    if (withholdCapabilitiesFromChildren())
        QProcess::startDetached(executable, arguments);
}

void startDetachedFromPath(const QString& program, const QStringList& arguments)
{
    const QString executable = QStandardPaths::findExecutable(program);
    if (!executable.isEmpty())
        startDetached(executable, arguments);
}
} // namespace

DesktopWallpaperChanger::DesktopWallpaperChanger(const QString& desktop, bool wayland, QObject* parent)
    : QObject(parent)
    , m_desktop(desktopFromName(desktop))
    , m_wayland(wayland)
{
}

QString DesktopWallpaperChanger::methodName(Desktop desktop, bool wayland)
{
    switch (desktop) {
    case Desktop::Gnome:
        return QStringLiteral("GNOME settings (gsettings)");
    case Desktop::Cinnamon:
        return QStringLiteral("Cinnamon settings (gsettings)");
    case Desktop::Mate:
        return QStringLiteral("MATE settings (gsettings)");
    case Desktop::Xfce:
        return QStringLiteral("Xfce settings (xfconf-query)");
    case Desktop::Plasma:
        return QStringLiteral("Plasma shell script (org.kde.PlasmaShell)");
    case Desktop::Other:
        break;
    }
    return wayland ? QStringLiteral("desktop portal (org.freedesktop.portal.Wallpaper)")
                   : QStringLiteral("feh on the root window");
}

DesktopWallpaperChanger::Desktop DesktopWallpaperChanger::desktopFromName(const QString& desktop)
{
    const QStringList names = desktop.toLower().split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString& name : names) {
        if (name == u"gnome" || name == u"gnome-classic" || name == u"gnome-flashback" || name == u"unity"
            || name == u"budgie" || name == u"pantheon")
            return Desktop::Gnome;
        if (name == u"x-cinnamon" || name == u"cinnamon")
            return Desktop::Cinnamon;
        if (name == u"mate")
            return Desktop::Mate;
        if (name == u"xfce")
            return Desktop::Xfce;
        if (name == u"kde")
            return Desktop::Plasma;
    }
    return Desktop::Other;
}

void DesktopWallpaperChanger::changeWallpaper(const QString& imagePath)
{
    const QString uri = QUrl::fromLocalFile(imagePath).toString(QUrl::FullyEncoded);
    switch (m_desktop) {
    case Desktop::Gnome:
        setGnomePictureUris(uri);
        break;
    case Desktop::Cinnamon:
        setGsettingsKey(
            QStringLiteral("org.cinnamon.desktop.background"), QStringLiteral("picture-uri"), uri);
        break;
    case Desktop::Mate:
        setGsettingsKey(QStringLiteral("org.mate.background"), QStringLiteral("picture-filename"), imagePath);
        break;
    case Desktop::Xfce:
        setXfceBackdrops(imagePath);
        break;
    case Desktop::Plasma:
        setPlasmaWallpaper(uri);
        break;
    case Desktop::Other:
        // A Wayland compositor draws its own background; an X root window under it is never seen.
        if (m_wayland)
            setThroughPortal(uri);
        else
            setRootWindowImage(imagePath);
        break;
    }
}

void DesktopWallpaperChanger::setGsettingsKey(const QString& schema, const QString& key, const QString& value)
{
    startDetachedFromPath(QStringLiteral("gsettings"), { QStringLiteral("set"), schema, key, value });
}

void DesktopWallpaperChanger::runThen(
    const QString& executable, const QStringList& arguments, std::function<void(const QByteArray&)> next)
{
    auto* process = new QProcess(this);
    process->setStandardErrorFile(QProcess::nullDevice());
    connect(process, &QProcess::finished, process, [process, next = std::move(next)] {
        next(process->readAllStandardOutput());
        process->deleteLater();
    });
    connect(process, &QProcess::errorOccurred, process, [process](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            process->deleteLater();
    });
    if (withholdCapabilitiesFromChildren())
        process->start(executable, arguments);
    else
        process->deleteLater();
}

void DesktopWallpaperChanger::setGnomePictureUris(const QString& uri)
{
    // The dark style shows its own picture; an older schema without the key just refuses it.
    // The second key waits for the first: two writers at once may lose one update on backends
    // that rewrite a whole file.
    const QString executable = QStandardPaths::findExecutable(QStringLiteral("gsettings"));
    if (executable.isEmpty())
        return;
    const QString schema = QStringLiteral("org.gnome.desktop.background");
    runThen(executable, { QStringLiteral("set"), schema, QStringLiteral("picture-uri"), uri },
        [executable, schema, uri](const QByteArray&) {
            startDetached(
                executable, { QStringLiteral("set"), schema, QStringLiteral("picture-uri-dark"), uri });
        });
}

void DesktopWallpaperChanger::setXfceBackdrops(const QString& imagePath)
{
    // Each monitor and workspace has its own backdrop; which ones exist is only known by asking.
    const QString executable = QStandardPaths::findExecutable(QStringLiteral("xfconf-query"));
    if (executable.isEmpty())
        return;
    runThen(executable, { QStringLiteral("-c"), XfceChannel, QStringLiteral("-l") },
        [executable, imagePath](const QByteArray& listing) {
            static const QRegularExpression backdrop(QStringLiteral("^/backdrop/.*/last-image$"));
            const QStringList lines = QString::fromLocal8Bit(listing).split(QLatin1Char('\n'));
            for (const QString& line : lines) {
                const QString property = line.trimmed();
                if (backdrop.match(property).hasMatch())
                    startDetached(executable,
                        { QStringLiteral("-c"), XfceChannel, QStringLiteral("-p"), property,
                            QStringLiteral("-s"), imagePath });
            }
        });
}

void DesktopWallpaperChanger::setPlasmaWallpaper(const QString& uri)
{
    const std::optional<QDBusConnection> bus = SessionBus::ifRunning();
    if (!bus)
        return;
    QString literal = uri;
    literal.replace(QLatin1Char('\\'), QStringLiteral("\\\\"))
        .replace(QLatin1Char('\''), QStringLiteral("\\'"));
    const QString script = QStringLiteral("var all = desktops();"
                                          "for (var i = 0; i < all.length; i++) {"
                                          " var d = all[i];"
                                          " d.wallpaperPlugin = 'org.kde.image';"
                                          " d.currentConfigGroup = ['Wallpaper', 'org.kde.image', 'General'];"
                                          " d.writeConfig('Image', '%1');"
                                          "}")
                               .arg(literal);
    QDBusMessage call
        = SessionBus::methodCall(QStringLiteral("org.kde.plasmashell"), QStringLiteral("/PlasmaShell"),
            QStringLiteral("org.kde.PlasmaShell"), QStringLiteral("evaluateScript"));
    call << script;
    bus->asyncCall(call);
}

void DesktopWallpaperChanger::setRootWindowImage(const QString& imagePath)
{
    startDetachedFromPath(QStringLiteral("feh"), { QStringLiteral("--bg-fill"), imagePath });
}

void DesktopWallpaperChanger::setThroughPortal(const QString& uri)
{
    const std::optional<QDBusConnection> bus = SessionBus::ifRunning();
    if (!bus)
        return;
    // The portal starts on demand like for any program; its answer (the request) is not waited for.
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.portal.Desktop"),
        QStringLiteral("/org/freedesktop/portal/desktop"), QStringLiteral("org.freedesktop.portal.Wallpaper"),
        QStringLiteral("SetWallpaperURI"));
    call << QString() << uri
         << QVariantMap { { QStringLiteral("show-preview"), false },
                { QStringLiteral("set-on"), QStringLiteral("both") } };
    bus->asyncCall(call);
}
