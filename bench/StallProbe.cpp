// The program exactly as app/main.cpp starts it, plus a timer on the same event loop that records
// how late it fires. On SIGUSR1 and at exit it writes its figures to standard error (standard
// output carries the status lines) and, on SIGUSR1, starts counting afresh.

#include "Application.h"
#include "LatenessProbe.h"
#include "ReportRequest.h"

#include <QApplication>
#include <QDir>

#include <cstdio>
#include <sys/resource.h>

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

void report(const LatenessProbe& probe)
{
    const LatenessProbe::Figures figures = probe.figures();
    rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    std::fprintf(stderr,
        "probe samples=%ld max_late_ms=%.2f p99_late_ms=%.2f worst_gap_cpu_ms=%.2f "
        "worst_gap_runqueue_ms=%.2f "
        "peak_rss_kb=%ld\n",
        figures.samples, figures.maxMs, figures.p99Ms, figures.worstGapCpuMs, figures.worstGapRunQueueMs,
        usage.ru_maxrss);
    std::fflush(stderr);
}
} // namespace

int main(int argc, char* argv[])
{
    if (!hasDisplay() && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Sentrel"));
    QApplication::setApplicationVersion(QStringLiteral("2.0"));
    QApplication::setQuitOnLastWindowClosed(false);

    Application::Paths paths;
    paths.programFolder = ProgramFolder::defaultPath();
    paths.assetDirs = assetDirs();
    Application sentrel(paths);
    if (QGuiApplication::platformName() == QLatin1String("offscreen"))
        sentrel.mirrorStatusToStdout();
    sentrel.start();

    LatenessProbe probe(10);
    ReportRequest request;
    QObject::connect(&request, &ReportRequest::requested, &probe, [&probe] {
        report(probe);
        probe.reset();
    });
    const int code = QApplication::exec();
    report(probe);
    return code;
}
