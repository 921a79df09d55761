#include "SingleInstance.h"

#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
// A raw local socket bound or connected to the path, or -1.
int localSocket(const QString& path, int (*how)(int, const sockaddr*, socklen_t) = ::connect)
{
    sockaddr_un address { AF_UNIX, {} };
    std::strncpy(address.sun_path, QFile::encodeName(path).constData(), sizeof(address.sun_path) - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (how(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
        return fd;
    ::close(fd);
    return -1;
}

bool closedByPeer(int fd)
{
    char byte;
    return ::recv(fd, &byte, 1, MSG_DONTWAIT) == 0;
}
} // namespace

class TestSingleInstance : public QObject
{
    Q_OBJECT

private slots:
    // A crashed run's socket is taken over; the listener outlives silent callers, a full queue and
    // running out of descriptors, and removes its socket when it ends.
    void listenerTakesOverAStaleSocketAndOutlivesIdleCallersAFullQueueAndRunningOutOfDescriptors()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("s");
        QVERIFY(::close(localSocket(path, ::bind)) == 0);
        auto first = std::make_unique<SingleInstance>(path);
        QCOMPARE(first->claim(), SingleInstance::Claim::First);
        QSignalSpy asked(first.get(), &SingleInstance::activationRequested);

        std::vector<int> idle;
        for (int fd; idle.size() < 64 && (fd = localSocket(path)) >= 0;)
            idle.push_back(fd);
        QVERIFY(idle.size() < 64);
        const auto closeIdle = qScopeGuard([&] { std::for_each(idle.begin(), idle.end(), ::close); });
        // A start that cannot get through must neither defer nor take the live socket away.
        SingleInstance blocked(path);
        QCOMPARE(blocked.claim(), SingleInstance::Claim::Alone);
        QVERIFY(blocked.message().endsWith(path + " does not answer"));
        QVERIFY(QFile::exists(path));
        QTRY_VERIFY_WITH_TIMEOUT(std::all_of(idle.begin(), idle.end(), closedByPeer), 30000);
        QCOMPARE(asked.size(), 0);

        // Out of descriptors, accepting fails: the listener waits instead of spinning or closing.
        const int caller = localSocket(path);
        QVERIFY(caller >= 0);
        rlimit saved {};
        ::getrlimit(RLIMIT_NOFILE, &saved);
        const int lowestFree = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        ::close(lowestFree);
        const rlimit lowered { rlim_t(lowestFree), saved.rlim_max };
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
        QVERIFY(::send(caller, "show\n", 5, MSG_NOSIGNAL) == 5);
        const std::clock_t cpu = std::clock();
        QTest::qWait(500);
        const double spent = double(std::clock() - cpu) / CLOCKS_PER_SEC;
        ::setrlimit(RLIMIT_NOFILE, &saved);
        QVERIFY2(spent < 0.2, "the listener spins");
        QTRY_COMPARE(asked.size(), 1);
        QTRY_VERIFY(closedByPeer(caller));
        ::close(caller);
        SingleInstance after(path);
        QCOMPARE(after.claim("tok-2"), SingleInstance::Claim::Deferred);
        QCOMPARE(after.message(), "Sentrel is already running; its window was asked to come forward.");
        QTRY_COMPARE(asked.size(), 2);
        QCOMPARE(asked.last().at(0), "tok-2"); // its activation token goes along
        first.reset();
        QVERIFY(!QFile::exists(path));
    }

    void noSharedFolderAndNoOtherUsersListener()
    {
        // Without a runtime folder (sudo, cron) the socket goes into a folder of this user's, never the
        // shared temporary folder.
        QTemporaryDir home;
        QVERIFY(
            ::chmod(QFile::encodeName(home.path()).constData(), 0711) == 0); // the other user passes through
        const QString shared = home.filePath("tmp");
        QVERIFY(QDir().mkpath(shared) && ::chmod(QFile::encodeName(shared).constData(), 01777) == 0);
        qunsetenv("XDG_RUNTIME_DIR");
        qputenv("TMPDIR", QFile::encodeName(shared));
        qputenv("XDG_CACHE_HOME", QFile::encodeName(home.filePath("cache")));
        const QString socket = SingleInstance::defaultSocketPath();
        const QString folder = QFileInfo(socket).path();
        struct stat status = {};
        QVERIFY2(!socket.startsWith(shared) && ::stat(QFile::encodeName(folder).constData(), &status) == 0,
            qPrintable(socket));
        QVERIFY(status.st_uid == ::geteuid() && (status.st_mode & 0777) == 0700);

        if (::geteuid() != 0)
            QSKIP("a listener of another user needs root (setuid to 65534)");
        // Another user listens in the shared folder, having taken the runtime folder Qt would make there;
        // it prints L once listening, then S if it was spoken to, else -.
        const QString squatted = QDir(shared).filePath("sentrel.socket");
        QProcess squatter;
        squatter.start("setpriv",
            { "--reuid=65534", "--regid=65534", "--clear-groups", "/usr/bin/python3", "-c",
                "import os, select, socket, sys\n"
                "os.mkdir(sys.argv[1], 0o700)\n"
                "s = socket.socket(socket.AF_UNIX); s.bind(sys.argv[2]); s.listen(4); print('L', "
                "flush=True)\n"
                "p = select.select([s], [], [], 5)[0] and s.accept()[0]\n"
                "print('S' if p and select.select([p], [], [], 3)[0] and p.recv(1) else '-', flush=True)\n",
                shared + "/runtime-" + QString::fromLocal8Bit(::getpwuid(::geteuid())->pw_name), squatted });
        QTRY_VERIFY_WITH_TIMEOUT(squatter.canReadLine(), 5000);
        QCOMPARE(squatter.readLine(), "L\n");
        SingleInstance ours;
        QCOMPARE(ours.claim(), SingleInstance::Claim::First);
        // Even at the very path it listens on, the other user's listener is not deferred to.
        SingleInstance there(squatted);
        QCOMPARE(there.claim(), SingleInstance::Claim::Alone);
        QCOMPARE(there.message(),
            "Sentrel runs without its check for another running copy: " + squatted
                + " answers as another user");
        QVERIFY(squatter.waitForFinished(10000));
        QCOMPARE(squatter.readAll(), "-\n");
    }
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_SingleInstance.moc"
