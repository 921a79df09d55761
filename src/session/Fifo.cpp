#include "Fifo.h"

#include <QFile>

#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// A reader may close its end between our open and our write. The write then raises SIGPIPE,
// whose default action ends the whole program; hold it back for this one write and swallow it.
ssize_t writeWithoutSigpipe(int fd, const QByteArray& data)
{
    sigset_t pipeOnly;
    sigset_t previous;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeOnly, &previous);
    const ssize_t written = ::write(fd, data.constData(), std::size_t(data.size()));
    if (written < 0 && errno == EPIPE && !sigismember(&previous, SIGPIPE)) {
        const timespec noWait {};
        sigtimedwait(&pipeOnly, nullptr, &noWait);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return written;
}
} // namespace

namespace Fifo {

bool isFifo(const QString& path)
{
    struct stat info
    {
    };
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 && S_ISFIFO(info.st_mode);
}

bool write(const QString& path, const QByteArray& data)
{
    // Without a reader, a non-blocking open for writing fails with ENXIO instead of waiting.
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return false;
    struct stat info
    {
    };
    bool ok = ::fstat(fd, &info) == 0 && S_ISFIFO(info.st_mode);
    if (ok)
        ok = writeWithoutSigpipe(fd, data) == data.size();
    ::close(fd);
    return ok;
}

} // namespace Fifo
