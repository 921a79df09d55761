#include "DesktopWallpaperChanger.h"
#include "FakePrograms.h"

#include <QtTest>

// GNOME's path runs the real gsettings on its keyfile backend, with the schema compiled into a
// temporary folder; the other desktops' tools are fakes on PATH.
class TestDesktopWallpaperChanger : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    const QString m_image = m_dir.filePath("Program Folder/SentrelBg.bmp");

private slots:
    void gnomeGetsBothPictureUris()
    {
        qputenv("XDG_CONFIG_HOME", m_dir.filePath("config").toUtf8());
        qputenv("GSETTINGS_BACKEND", "keyfile");
        qputenv("GSETTINGS_SCHEMA_DIR", m_dir.path().toUtf8());
        QFile schema(m_dir.filePath("org.gnome.desktop.background.gschema.xml"));
        QVERIFY(schema.open(QIODevice::WriteOnly));
        schema.write(
            R"(<schemalist><schema id="org.gnome.desktop.background" path="/org/gnome/desktop/background/">
            <key name="picture-uri" type="s"><default>''</default></key>
            <key name="picture-uri-dark" type="s"><default>''</default></key></schema></schemalist>)");
        schema.close();
        if (QProcess::execute("glib-compile-schemas", { m_dir.path() }) != 0
            || QStandardPaths::findExecutable("gsettings").isEmpty())
            QSKIP("gsettings and glib-compile-schemas (libglib2.0-bin) are not installed");
        DesktopWallpaperChanger gnome("ubuntu:GNOME");
        gnome.changeWallpaper(m_image);
        const auto uris = [this] {
            QFile keyfile(m_dir.filePath("config/glib-2.0/settings/keyfile"));
            const QByteArray uri = "='file://" + m_dir.path().toUtf8() + "/Program%20Folder/SentrelBg.bmp'";
            return keyfile.open(QIODevice::ReadOnly) ? keyfile.readAll().count(uri) : 0;
        };
        QTRY_COMPARE(uris(), 2); // after "picture-uri" and after "picture-uri-dark"
    }

    void xfceGetsEveryBackdropsImageAndOthersUseFeh()
    {
        FakePrograms fakes;
        // Only the "last-image" properties of the listing are backdrops.
        fakes.add("xfconf-query",
            "[ \"$3\" = -l ] && printf '%s\\n' /backdrop/screen0/monitor0/workspace0/last-image "
            "/backdrop/screen0/monitor0/workspace0/image-style "
            "/backdrop/screen0/monitorHDMI-1/workspace1/last-image");
        fakes.add("feh");
        DesktopWallpaperChanger xfce("XFCE");
        xfce.changeWallpaper(m_image);
        DesktopWallpaperChanger("sway").changeWallpaper(m_image);
        QTRY_COMPARE(fakes.read().size(), 4);
        QStringList calls = fakes.read();
        calls.sort();
        const QString set = "xfconf-query -c xfce4-desktop -p /backdrop/screen0/%1/last-image -s " + m_image;
        QCOMPARE(calls,
            QStringList({ "feh --bg-fill " + m_image, "xfconf-query -c xfce4-desktop -l",
                set.arg("monitor0/workspace0"), set.arg("monitorHDMI-1/workspace1") }));
    }
};

QTEST_GUILESS_MAIN(TestDesktopWallpaperChanger)
#include "tst_DesktopWallpaperChanger.moc"
