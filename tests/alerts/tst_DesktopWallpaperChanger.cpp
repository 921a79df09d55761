#include "DesktopWallpaperChanger.h"
#include "FakePrograms.h"

#include <QProcess>
#include <QtTest>

// GNOME's path runs the real gsettings on its keyfile backend, with the schema compiled into a
// temporary folder; the other desktops' tools are fakes on PATH.
class TestDesktopWallpaperChanger : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void gnomeGetsBothPictureUris();
    void xfceGetsEveryBackdropsImage();
    void otherDesktopsUseFeh();

private:
    QTemporaryDir m_dir;
    QString m_image;
};

void TestDesktopWallpaperChanger::initTestCase()
{
    m_image = m_dir.filePath("Program Folder/SentrelBg.bmp");
    qputenv("XDG_CONFIG_HOME", m_dir.filePath("config").toUtf8());
    qputenv("GSETTINGS_BACKEND", "keyfile");
    qputenv("GSETTINGS_SCHEMA_DIR", m_dir.path().toUtf8());
}

void TestDesktopWallpaperChanger::gnomeGetsBothPictureUris()
{
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

    DesktopWallpaperChanger("ubuntu:GNOME").changeWallpaper(m_image);
    const auto keyfile = [this] {
        QFile file(m_dir.filePath("config/glib-2.0/settings/keyfile"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    const QByteArray uri = "'file://" + m_dir.path().toUtf8() + "/Program%20Folder/SentrelBg.bmp'";
    QTRY_VERIFY(keyfile().contains("picture-uri=" + uri) && keyfile().contains("picture-uri-dark=" + uri));
}

void TestDesktopWallpaperChanger::xfceGetsEveryBackdropsImage()
{
    FakePrograms fakes;
    fakes.add("xfconf-query",
        "[ \"$3\" = -l ] && printf '%s\\n' /backdrop/screen0/monitor0/workspace0/last-image "
        "/backdrop/screen0/monitor0/workspace0/image-style "
        "/backdrop/screen0/monitorHDMI-1/workspace1/last-image");
    DesktopWallpaperChanger xfce("XFCE");
    xfce.changeWallpaper(m_image);
    const QString set = "-c xfce4-desktop -p /backdrop/screen0/%1/last-image -s " + m_image;
    QTRY_COMPARE(fakes.calls("xfconf-query").size(), 3);
    QStringList calls = fakes.calls("xfconf-query");
    calls.sort();
    QCOMPARE(calls,
        QStringList(
            { "-c xfce4-desktop -l", set.arg("monitor0/workspace0"), set.arg("monitorHDMI-1/workspace1") }));
}

void TestDesktopWallpaperChanger::otherDesktopsUseFeh()
{
    FakePrograms fakes;
    fakes.add("feh");
    DesktopWallpaperChanger("sway").changeWallpaper(m_image);
    QTRY_COMPARE(fakes.calls("feh"), QStringList { "--bg-fill " + m_image });
}

QTEST_GUILESS_MAIN(TestDesktopWallpaperChanger)
#include "tst_DesktopWallpaperChanger.moc"
