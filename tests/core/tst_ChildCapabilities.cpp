#include "ChildCapabilities.h"
#include "TestFiles.h"

#include <future>
#include <thread>

#include <cstddef>
#include <linux/capability.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

// The main process once the watch helper has started: no thread holds more than binding ports,
// not even one started before. Drops the test's own capabilities for good, so it is a test program
// of its own; needs root to start with.
class TestChildCapabilities : public QObject
{
    Q_OBJECT

private slots:
    // As the systemd unit runs it (in a child, which keeps what it changes to itself): only
    // CAP_NET_BIND_SERVICE, ambient and so inheritable too, and capset refused with EPERM. Neither
    // call may report a failure then, and the ambient set is emptied all the same.
    void capsetRefusedWithBindOnly()
    {
        if (::geteuid() != 0)
            QSKIP("needs root to set the capabilities up");
        const pid_t child = ::fork();
        if (child == 0) {
            __user_cap_header_struct header { _LINUX_CAPABILITY_VERSION_3, 0 };
            const std::uint32_t bind = CAP_TO_MASK(CAP_NET_BIND_SERVICE);
            __user_cap_data_struct sets[2] { { bind, bind, bind }, {} };
            sock_filter refuseCapset[] = { BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
                BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_capset, 0, 1),
                BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM),
                BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW) };
            const sock_fprog program { 4, refuseCapset };
            const bool ready = ::syscall(SYS_capset, &header, sets) == 0
                && ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_RAISE, CAP_NET_BIND_SERVICE, 0, 0) == 0
                && ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0
                && ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0
                && ::syscall(SYS_capset, &header, sets) != 0;
            ::_exit(!ready ? 2
                    : withholdCapabilitiesFromChildren() && keepOnlyBindCapability()
                        && ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_IS_SET, CAP_NET_BIND_SERVICE, 0, 0) == 0
                    ? 0
                    : 1);
        }
        int status = -1;
        QVERIFY(::waitpid(child, &status, 0) == child);
        QCOMPARE(WEXITSTATUS(status), 0);
    }

    void onlyBindingLeftOnEveryThread()
    {
        const int packet = ::socket(AF_PACKET, SOCK_DGRAM, 0);
        if (packet < 0)
            QSKIP("needs CAP_NET_RAW to begin with (root)");
        ::close(packet);
        std::promise<void> done;
        std::thread other([finished = done.get_future()] { finished.wait(); });
        QVERIFY(keepOnlyBindCapability());
        QVERIFY(keepOnlyBindCapability()); // harmless to repeat
        // Each thread's sets as "CapInh:<hex> CapPrm:<hex> CapEff:<hex> CapAmb:<hex>".
        QStringList threads;
        static const QRegularExpression set(
            "^(Cap(Inh|Prm|Eff|Amb):)\\s*(\\w+)$", QRegularExpression::MultilineOption);
        for (const QString& task : QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QStringList sets;
            for (const QRegularExpressionMatch& m :
                set.globalMatch(fileBytes("/proc/self/task/" + task + "/status")))
                sets << m.captured(1) + m.captured(3);
            threads << sets.join(' ');
        }
        done.set_value();
        other.join();
        const QString bindOnly
            = QString::number(CAP_TO_MASK(CAP_NET_BIND_SERVICE), 16).rightJustified(16, '0');
        const QString expected = "CapInh:0000000000000000 CapPrm:" + bindOnly + " CapEff:" + bindOnly
            + " CapAmb:0000000000000000";
        QVERIFY(threads.size() >= 2);
        for (const QString& line : threads)
            QCOMPARE(line, expected);
    }
};

QTEST_GUILESS_MAIN(TestChildCapabilities)
#include "tst_ChildCapabilities.moc"
