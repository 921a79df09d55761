#include "ChildCapabilities.h"

#include <QDir>
#include <QFile>
#include <QList>
#include <QStringList>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>

#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {
// What the systemd unit's sandbox may leave in the inheritable set, where it refuses capset: the
// port capability the program holds itself. Without the ambient set a program started gains it
// only when its own file asks for it, and under NoNewPrivileges never anything more.
bool onlyBindInheritable(const __user_cap_data_struct* sets)
{
    return (sets[0].inheritable & ~CAP_TO_MASK(CAP_NET_BIND_SERVICE)) == 0 && sets[1].inheritable == 0;
}

bool capsetRefusedWith(const __user_cap_data_struct* sets)
{
    return errno == EPERM && onlyBindInheritable(sets);
}
} // namespace

bool withholdCapabilitiesFromChildren()
{
    // EINVAL: a kernel older than ambient capabilities, so there are none to clear.
    if (::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) != 0 && errno != EINVAL)
        return false;
    __user_cap_header_struct header { _LINUX_CAPABILITY_VERSION_3, 0 };
    std::array<__user_cap_data_struct, _LINUX_CAPABILITY_U32S_3> sets {};
    if (::syscall(SYS_capget, &header, sets.data()) != 0)
        return false;
    const auto before = sets;
    bool inheritable = false;
    for (auto& set : sets) {
        inheritable = inheritable || set.inheritable != 0;
        set.inheritable = 0;
    }
    // Only when there is something to drop: a sandbox may refuse capset to those who need none.
    return !inheritable || ::syscall(SYS_capset, &header, sets.data()) == 0
        || capsetRefusedWith(before.data());
}

namespace {
// The sets every thread is to hold; written before any thread is signalled.
__user_cap_data_struct g_target[_LINUX_CAPABILITY_U32S_3] {};
std::atomic<int> g_unchanged { 0 };

bool applyTarget()
{
    // EINVAL: a kernel older than ambient capabilities, so there are none to clear.
    if (::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) != 0 && errno != EINVAL)
        return false;
    __user_cap_header_struct header { _LINUX_CAPABILITY_VERSION_3, 0 };
    __user_cap_data_struct now[_LINUX_CAPABILITY_U32S_3] {};
    // Only when there is something to drop: a sandbox may refuse capset to those who need none.
    if (::syscall(SYS_capget, &header, now) != 0)
        return false;
    if (std::memcmp(now, g_target, sizeof now) == 0)
        return true;
    if (::syscall(SYS_capset, &header, g_target) == 0)
        return true;
    // Refused, by the unit's sandbox: fine where nothing held is beyond the target but that.
    for (int i = 0; i < _LINUX_CAPABILITY_U32S_3; ++i) {
        if ((now[i].permitted & ~g_target[i].permitted) != 0
            || (now[i].effective & ~g_target[i].effective) != 0)
            return false;
    }
    return capsetRefusedWith(now);
}

void applyOnSignal(int)
{
    const int saved = errno;
    if (!applyTarget())
        g_unchanged.fetch_add(1);
    errno = saved;
}

std::uint64_t capabilityLine(const QByteArray& status, const char* name)
{
    const qsizetype at = status.indexOf(name);
    return at < 0 ? ~std::uint64_t(0)
                  : status.mid(at + qsizetype(std::strlen(name)))
                        .trimmed()
                        .split('\n')
                        .first()
                        .toULongLong(nullptr, 16);
}

// The threads that still hold more than the target, by their ids; a thread whose status cannot be
// read counts as holding more.
QList<pid_t> threadsHoldingMore()
{
    const std::uint64_t permitted = std::uint64_t(g_target[1].permitted) << 32 | g_target[0].permitted;
    const std::uint64_t effective = std::uint64_t(g_target[1].effective) << 32 | g_target[0].effective;
    QList<pid_t> holding;
    const QStringList tasks
        = QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& task : tasks) {
        QFile file(QStringLiteral("/proc/self/task/%1/status").arg(task));
        const QByteArray status = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        if ((capabilityLine(status, "CapPrm:") & ~permitted) != 0
            || (capabilityLine(status, "CapEff:") & ~effective) != 0
            || (capabilityLine(status, "CapInh:") & ~std::uint64_t(CAP_TO_MASK(CAP_NET_BIND_SERVICE))) != 0
            || capabilityLine(status, "CapAmb:") != 0)
            holding.append(pid_t(task.toInt()));
    }
    return holding;
}
} // namespace

bool keepOnlyBindCapability()
{
    __user_cap_header_struct header { _LINUX_CAPABILITY_VERSION_3, 0 };
    __user_cap_data_struct now[_LINUX_CAPABILITY_U32S_3] {};
    if (::syscall(SYS_capget, &header, now) != 0)
        return false;
    // Root regains everything when it starts a helper; only another user needs CAP_NET_ADMIN kept.
    const std::uint64_t keptPermitted
        = CAP_TO_MASK(CAP_NET_BIND_SERVICE) | (::geteuid() != 0 ? CAP_TO_MASK(CAP_NET_ADMIN) : 0);
    for (int i = 0; i < _LINUX_CAPABILITY_U32S_3; ++i) {
        g_target[i].permitted = now[i].permitted & (i == 0 ? std::uint32_t(keptPermitted) : 0);
        g_target[i].effective = now[i].effective & (i == 0 ? CAP_TO_MASK(CAP_NET_BIND_SERVICE) : 0);
        g_target[i].inheritable = 0;
    }
    if (!applyTarget())
        return false;
    QList<pid_t> holding = threadsHoldingMore();
    if (holding.isEmpty())
        return true;
    const int signal = SIGRTMIN + 7;
    struct sigaction action
    {
    };
    struct sigaction before
    {
    };
    action.sa_handler = applyOnSignal;
    action.sa_flags = SA_RESTART;
    ::sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, &before);
    g_unchanged = 0;
    // A thread started meanwhile by one not yet changed is found on the next round.
    for (int round = 0; round < 200 && !holding.isEmpty() && g_unchanged == 0; ++round) {
        for (const pid_t tid : holding) {
            if (tid != pid_t(::syscall(SYS_gettid)))
                ::syscall(SYS_tgkill, ::getpid(), tid, signal);
        }
        ::usleep(5000);
        holding = threadsHoldingMore();
    }
    // Ignoring it first discards what is still pending, which would otherwise end the process.
    action.sa_handler = SIG_IGN;
    ::sigaction(signal, &action, nullptr);
    ::sigaction(signal, &before, nullptr);
    return holding.isEmpty();
}
