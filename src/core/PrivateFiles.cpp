#include "PrivateFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr mode_t FileMode = 0600;
constexpr mode_t FolderMode = 0700;

// Narrows a file or folder of ours that others may reach; leaves anyone else's alone.
bool narrow(int fd, const struct stat& status, mode_t mode)
{
    if (status.st_uid != ::geteuid())
        return true;
    return (status.st_mode & 07777) == mode || ::fchmod(fd, mode) == 0;
}
} // namespace

int PrivateFiles::openForAppend(const QByteArray& path)
{
    const int fd = ::open(
        path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, FileMode);
    if (fd < 0)
        return -1;
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || !narrow(fd, status, FileMode)) {
        const int error = S_ISREG(status.st_mode) ? errno : EINVAL;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

bool PrivateFiles::makePrivateFile(const QString& path)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    const int fd = ::open(QFile::encodeName(path).constData(),
        O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, FileMode);
    if (fd < 0)
        return false;
    struct stat status {};
    const bool done = ::fstat(fd, &status) == 0 && narrow(fd, status, FileMode);
    const int error = errno;
    ::close(fd);
    errno = error;
    return done;
}

bool PrivateFiles::makePrivateFolder(const QString& path, QString* error)
{
    const QByteArray name = QFile::encodeName(path);
    const auto fail = [&](const QString& reason) {
        if (error)
            *error = reason;
        return false;
    };
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return fail(QStringLiteral("cannot create its parent folder"));
    if (::mkdir(name.constData(), FolderMode) != 0 && errno != EEXIST)
        return fail(QString::fromLocal8Bit(std::strerror(errno)));
    const int fd = ::open(name.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return fail(QString::fromLocal8Bit(std::strerror(errno)));
    struct stat status {};
    QString reason;
    if (::fstat(fd, &status) != 0 || !narrow(fd, status, FolderMode))
        reason = QString::fromLocal8Bit(std::strerror(errno));
    else if (status.st_uid != ::geteuid())
        reason = QStringLiteral("it belongs to another user");
    ::close(fd);
    return reason.isEmpty() || fail(reason);
}

bool PrivateFiles::isPrivateFolder(const QString& path)
{
    struct stat status {};
    return !path.isEmpty() && ::stat(QFile::encodeName(path).constData(), &status) == 0
        && S_ISDIR(status.st_mode) && status.st_uid == ::geteuid() && (status.st_mode & 077) == 0;
}
