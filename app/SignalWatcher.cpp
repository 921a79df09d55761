#include "SignalWatcher.h"

#include <QSocketNotifier>

#include <array>
#include <atomic>
#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// The handler may only touch lock-free atomics. Each slot holds the write end of the watcher for
// that signal plus one, so that the zero every slot starts with means "nobody watching" even when
// descriptor 0 is free and a socket pair takes it.
static_assert(std::atomic<int>::is_always_lock_free);
std::array<std::atomic<int>, NSIG> g_writeEnds {};

void onSignal(int signalNumber)
{
    const int savedErrno = errno;
    const int writeEnd = g_writeEnds[size_t(signalNumber)].load(std::memory_order_relaxed) - 1;
    if (writeEnd >= 0) {
        // Signal numbers stay below NSIG (65), so one byte names the signal. A full buffer drops
        // the byte, but then a wake-up is already pending.
        const auto byte = static_cast<unsigned char>(signalNumber);
        [[maybe_unused]] const ssize_t written = ::write(writeEnd, &byte, 1);
    }
    errno = savedErrno;
}
} // namespace

SignalWatcher::SignalWatcher(std::initializer_list<int> signalNumbers, QObject* parent)
    : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, m_pair) != 0) {
        m_pair[0] = m_pair[1] = -1;
        return;
    }
    m_notifier = new QSocketNotifier(m_pair[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SignalWatcher::drain);

    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : signalNumbers) {
        if (number <= 0 || number >= NSIG)
            continue;
        // The slot is filled before the handler can run, so the first delivery is not lost.
        g_writeEnds[size_t(number)].store(m_pair[1] + 1);
        Watched watched { number, {} };
        if (::sigaction(number, &action, &watched.previous) == 0)
            m_watched.push_back(watched);
        else
            g_writeEnds[size_t(number)].store(0);
    }
}

SignalWatcher::~SignalWatcher()
{
    for (const Watched& watched : m_watched) {
        ::sigaction(watched.number, &watched.previous, nullptr);
        // A later watcher may have taken the signal over; leave its descriptor alone.
        int mine = m_pair[1] + 1;
        g_writeEnds[size_t(watched.number)].compare_exchange_strong(mine, 0);
    }
    delete m_notifier;
    for (int& fd : m_pair) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

void SignalWatcher::drain()
{
    std::array<bool, NSIG> seen {};
    unsigned char buffer[64];
    ssize_t count;
    while ((count = ::read(m_pair[0], buffer, sizeof buffer)) > 0) {
        for (ssize_t i = 0; i < count; ++i)
            seen[buffer[i] % NSIG] = true;
    }
    for (int number = 1; number < NSIG; ++number) {
        if (seen[size_t(number)])
            emit raised(number);
    }
}
