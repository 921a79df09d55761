#include "SentrelMain.h"

#include "Application.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>

namespace {
bool hasDisplay()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

QStringList assetDirs()
{
    const QDir binary(QCoreApplication::applicationDirPath());
    return { binary.absoluteFilePath(QStringLiteral("../share/sentrel")),
        QStringLiteral(SENTREL_INSTALLED_ASSETS), QStringLiteral(SENTREL_BUILD_ASSETS) };
}

// The installed helper beside the program wherever the package put it, else the build tree's.
QString bindHelper()
{
    const QDir binary(QCoreApplication::applicationDirPath());
    for (const QString& candidate :
        { binary.absoluteFilePath(QStringLiteral("../libexec/sentrel/sentrel-bind")),
            QStringLiteral(SENTREL_INSTALLED_HELPER), QStringLiteral(SENTREL_BUILD_HELPER) }) {
        if (QFileInfo(candidate).isExecutable())
            return candidate;
    }
    return {};
}
} // namespace

SentrelMain::SentrelMain(int& argc, char** argv, StatusMirror mirror)
{
    // Without a display (a server, a container, CI) run on the offscreen platform and report on
    // standard output instead of failing to start.
    if (!hasDisplay() && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    m_qtApplication = std::make_unique<QApplication>(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Sentrel"));
    QApplication::setApplicationVersion(QStringLiteral("2.0"));
    QApplication::setQuitOnLastWindowClosed(false);

    Application::Paths paths;
    paths.programFolder = ProgramFolder::defaultPath();
    paths.assetDirs = assetDirs();
    paths.bindHelper = bindHelper();
    m_application = std::make_unique<Application>(paths);
    const bool offscreen = QGuiApplication::platformName() == QLatin1String("offscreen");
    if (offscreen)
        m_application->runWithoutDisplay();
    if (mirror == StatusMirror::Always || offscreen)
        m_application->mirrorStatusToStdout();
    m_application->start();
}

SentrelMain::~SentrelMain() = default;

int SentrelMain::exec()
{
    return QApplication::exec();
}
