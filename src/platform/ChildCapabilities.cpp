#include "ChildCapabilities.h"

#include <array>
#include <cerrno>

#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

bool withholdCapabilitiesFromChildren()
{
    // EINVAL: a kernel older than ambient capabilities, so there are none to clear.
    if (::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) != 0 && errno != EINVAL)
        return false;
    __user_cap_header_struct header { _LINUX_CAPABILITY_VERSION_3, 0 };
    std::array<__user_cap_data_struct, _LINUX_CAPABILITY_U32S_3> sets {};
    if (::syscall(SYS_capget, &header, sets.data()) != 0)
        return false;
    bool inheritable = false;
    for (auto& set : sets) {
        inheritable = inheritable || set.inheritable != 0;
        set.inheritable = 0;
    }
    // Only when there is something to drop: a sandbox may refuse capset to those who need none.
    return !inheritable || ::syscall(SYS_capset, &header, sets.data()) == 0;
}
