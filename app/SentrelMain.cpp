#include "SentrelMain.h"

#include "Application.h"
#include "BuildTree.h"
#include "CommandLineOptions.h"
#include "DisplaySession.h"
#include "HistoryCommand.h"
#include "HistoryWriter.h"
#include "QtMessageRouter.h"
#include "SingleInstance.h"
#include "StartupCheck.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QTimer>

#include <csignal>
#include <cstdio>

namespace {
bool hasDisplay()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

QStringList assetDirs()
{
    const QDir binary(QCoreApplication::applicationDirPath());
    return { binary.absoluteFilePath(QStringLiteral("../share/sentrel")),
        QStringLiteral(SENTREL_INSTALLED_ASSETS), BuildTree::assetDir() };
}

// The installed helper beside the program wherever the package put it, else the build tree's.
QString helperProgram(const QString& name, const QString& installed, const QString& inBuildTree)
{
    const QDir binary(QCoreApplication::applicationDirPath());
    for (const QString& candidate :
        { binary.absoluteFilePath(QStringLiteral("../libexec/sentrel/") + name), installed, inBuildTree }) {
        if (QFileInfo(candidate).isExecutable())
            return candidate;
    }
    return {};
}
} // namespace

SentrelMain::SentrelMain(int& argc, char** argv, StatusMirror mirror)
{
    // First, so that nothing Qt says on the way lands on standard output.
    QtMessageRouter::install();
    // Under a file size limit (the service has one) a write past it must fail, not end the
    // program: the logs take short writes as lost entries.
    std::signal(SIGXFSZ, SIG_IGN);
    QCoreApplication::setApplicationName(QStringLiteral("Sentrel"));
    QCoreApplication::setApplicationVersion(QStringLiteral("2.0"));

    const CommandLineOptions options = CommandLineOptions::parse(argc, argv);
    if (options.exitCode) {
        m_exitCode = options.exitCode;
        return;
    }
    // Before the single-instance claim: reading the history beside a running Sentrel is the point,
    // and the request must not be handed to that program instead.
    if (options.history) {
        m_qtApplication = std::make_unique<QCoreApplication>(argc, argv);
        m_exitCode = HistoryCommand::run(options,
            QDir(ProgramFolder::defaultPath()).filePath(HistoryWriter::fileName()), stdout, stderr);
        return;
    }

    // Without a display (a server, a container, CI) run without any window and report on
    // standard output instead of failing to start. The offscreen platform has no display either.
    const bool noDisplay = qgetenv("QT_QPA_PLATFORM") == "offscreen"
        || (!hasDisplay() && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"));
    const bool headless = options.headless || noDisplay;
    // A Wayland session gets the Wayland platform (X11 where its plugin is missing); the user's own
    // choice wins. Only Qt reads the choice: the programs started for the user get the session's
    // environment as it was.
    const QByteArray platform = noDisplay ? QByteArray() : DisplaySession::platformForEnvironment();
    if (!platform.isEmpty())
        qputenv("QT_QPA_PLATFORM", platform);
    if (!headless) {
        m_qtApplication = std::make_unique<QApplication>(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
    } else if (options.check && !noDisplay) {
        // The check shows no window, yet reports what the display it would run on offers.
        m_qtApplication = std::make_unique<QGuiApplication>(argc, argv);
    } else {
        m_qtApplication = std::make_unique<QCoreApplication>(argc, argv);
    }
    if (!platform.isEmpty())
        qunsetenv("QT_QPA_PLATFORM");

    // A second start brings the running program forward and ends. A check beside a running program
    // would find its ports taken and write into its files: it leaves both alone and says so.
    m_instance = std::make_unique<SingleInstance>();
    if (options.check && m_instance->isAnotherRunning()) {
        std::fputs("Check not run: Sentrel is already running, and the check would share its ports and "
                   "files, so it leaves them alone. Its status display shows what it guards; stop it to "
                   "run the check.\n",
            stdout);
        m_exitCode = 3;
        return;
    }
    const SingleInstance::Claim claim = options.check ? SingleInstance::Claim::First : m_instance->claim();
    if (claim != SingleInstance::Claim::First)
        std::fprintf(claim == SingleInstance::Claim::Deferred ? stdout : stderr, "%s\n",
            qPrintable(m_instance->message()));
    if (claim == SingleInstance::Claim::Deferred) {
        m_exitCode = 0;
        return;
    }

    Application::Paths paths;
    paths.settingsFile = options.settingsFile;
    paths.programFolder = ProgramFolder::defaultPath();
    paths.assetDirs = assetDirs();
    paths.bindHelper = helperProgram(QStringLiteral("sentrel-bind"), QStringLiteral(SENTREL_INSTALLED_HELPER),
        BuildTree::helperPath());
    paths.watchHelper = helperProgram(QStringLiteral("sentrel-watch"),
        QStringLiteral(SENTREL_INSTALLED_WATCH_HELPER), BuildTree::watchHelperPath());
    // The systemd unit names where its watch service listens: the service holds no CAP_NET_RAW to
    // start the helper with.
    paths.watchService = qEnvironmentVariable("SENTREL_WATCH_SOCKET");
    paths.blockHelper = helperProgram(QStringLiteral("sentrel-block"),
        QStringLiteral(SENTREL_INSTALLED_BLOCK_HELPER), BuildTree::blockHelperPath());
    m_application = std::make_unique<Application>(
        paths, headless ? Application::Display::None : Application::Display::Window);
    if (options.check) {
        m_check = std::make_unique<StartupCheck>(m_application->monitoring(), m_application->events(),
            m_application->settings(), stdout, [this](int code) { m_application->quit(code); });
        m_check->setPacketWatch(&m_application->packetWatch());
        m_check->setBlocker(&m_application->blocker());
    } else if (mirror == StatusMirror::Always || headless) {
        m_application->mirrorStatusToStdout();
    }
    QObject::connect(m_instance.get(), &SingleInstance::activationRequested, m_application.get(),
        [this] { m_application->restoreMonitor(); });
    m_application->start();
    if (m_check) // once the event loop runs, which the check needs to end it
        QTimer::singleShot(0, m_check.get(), &StartupCheck::run);
}

SentrelMain::~SentrelMain() = default;

int SentrelMain::exec()
{
    if (m_exitCode)
        return *m_exitCode;
    return QCoreApplication::exec();
}
