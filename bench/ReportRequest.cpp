#include "ReportRequest.h"

#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int g_pair[2] = { -1, -1 };

void onSignal(int)
{
    const char byte = 1;
    // Only async-signal-safe calls here; a full pair already has a wake-up pending.
    [[maybe_unused]] const ssize_t written = ::write(g_pair[1], &byte, 1);
}
} // namespace

ReportRequest::ReportRequest(QObject* parent)
    : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, g_pair) != 0)
        return;
    m_notifier = new QSocketNotifier(g_pair[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &ReportRequest::drain);

    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGUSR1, &action, nullptr);
}

ReportRequest::~ReportRequest()
{
    ::signal(SIGUSR1, SIG_DFL);
    delete m_notifier;
    for (int& fd : g_pair) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

void ReportRequest::drain()
{
    char buffer[64];
    while (::read(g_pair[0], buffer, sizeof buffer) > 0) { }
    emit requested();
}
