// The program exactly as app/main.cpp starts it (with --mirror, also mirroring its status lines to
// standard output when it has a display), plus a timer on the same event loop that records
// how late it fires. On SIGUSR1 and at exit it writes its figures to standard error (standard
// output carries the status lines) and, on SIGUSR1, starts counting afresh.

#include "LatenessProbe.h"
#include "SentrelMain.h"
#include "SignalWatcher.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/resource.h>

namespace {
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
    // --mirror: the status lines go to standard output even with a display, to be counted there.
    const bool mirror = argc > 1 && std::strcmp(argv[argc - 1], "--mirror") == 0;
    if (mirror)
        --argc;
    SentrelMain sentrel(
        argc, argv, mirror ? SentrelMain::StatusMirror::Always : SentrelMain::StatusMirror::WithoutDisplay);

    LatenessProbe probe(10);
    // Lets a script ask for figures between two loads without stopping the process.
    SignalWatcher reportRequest({ SIGUSR1 });
    QObject::connect(&reportRequest, &SignalWatcher::raised, &probe, [&probe] {
        report(probe);
        probe.reset();
    });
    SignalWatcher pauseRequest({ SIGUSR2 });
    QObject::connect(&pauseRequest, &SignalWatcher::raised, &probe, &LatenessProbe::pause);
    const int code = sentrel.exec();
    report(probe);
    return code;
}
