#pragma once

#include <csignal>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

// A private X server for one test program. It has to run before the application object exists,
// so it is forked here rather than started through QProcess; Xvfb picks a free display and writes
// its number once it accepts clients. Without one the program runs offscreen and its cases that
// need X skip on the platform name.
class PrivateXServer
{
public:
    PrivateXServer()
    {
        int fds[2];
        if (::pipe(fds) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", "-screen", "0",
                "800x600x24", nullptr);
            ::_exit(127);
        }
        ::close(fds[1]);
        QByteArray number;
        pollfd reader { fds[0], POLLIN, 0 };
        char c = 0;
        while (m_pid > 0 && ::poll(&reader, 1, 15000) > 0 && ::read(fds[0], &c, 1) == 1 && c != '\n')
            number += c;
        ::close(fds[0]);
        qputenv("QT_QPA_PLATFORM", number.isEmpty() ? "offscreen" : "xcb");
        if (!number.isEmpty())
            qputenv("DISPLAY", ":" + number);
    }
    ~PrivateXServer()
    {
        if (m_pid > 0 && ::kill(m_pid, SIGTERM) == 0)
            ::waitpid(m_pid, nullptr, 0);
    }

private:
    pid_t m_pid = -1;
};

// A test class that talks to X: the server first, then the application on it.
#define SENTREL_X11_TEST_MAIN(TestClass, ApplicationClass) SENTREL_TEST_MAIN(TestClass, PrivateXServer, ApplicationClass)
