#pragma once

#include <QByteArray>

#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

// A private X server for tests that need a real X11 clipboard. It is started before the
// application object exists, so it cannot use QProcess; it picks a free display by itself.
class XvfbServer
{
public:
    XvfbServer()
    {
        int fds[2];
        if (::pipe(fds) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(fds[0]);
            const QByteArray fd = QByteArray::number(fds[1]);
            ::execlp("Xvfb", "Xvfb", "-displayfd", fd.constData(), "-nolisten", "tcp", "-noreset", "-screen",
                "0", "640x480x24", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        // The number comes as a line; Xvfb gives up when the pipe closes before it is written.
        char c = 0;
        while (m_pid > 0 && ::read(fds[0], &c, 1) == 1 && c != '\n')
            m_display += c;
        ::close(fds[0]);
        if (!m_display.isEmpty())
            m_display.prepend(':');
    }
    ~XvfbServer()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
    }

    // Empty when Xvfb could not be started.
    QByteArray display() const { return m_display; }

private:
    pid_t m_pid = -1;
    QByteArray m_display;
};
