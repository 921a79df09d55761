#pragma once

#include <memory>
#include <optional>

class Application;
class QCoreApplication;
class SingleInstance;
class StartupCheck;

// The program's start-up, shared by the installed binary and the tools that measure it, so that
// they measure the program exactly as it runs. Construction reads the command line and leaves the
// program started; exec() runs its event loop.
class SentrelMain
{
public:
    // Where the status display is mirrored to standard output: only without a display, or always
    // (the benchmark counts the lines of a shown window there).
    enum class StatusMirror { WithoutDisplay, Always };

    // argc must outlive this object, as Qt's application object requires.
    SentrelMain(int& argc, char** argv, StatusMirror mirror = StatusMirror::WithoutDisplay);
    ~SentrelMain();

    SentrelMain(const SentrelMain&) = delete;
    SentrelMain& operator=(const SentrelMain&) = delete;

    int exec();

private:
    // Set when the command line was answered without starting (help, version, a mistake).
    std::optional<int> m_exitCode;
    std::unique_ptr<QCoreApplication> m_qtApplication; // a QApplication where there is a display
    std::unique_ptr<SingleInstance> m_instance;
    // After the Qt application, so that the program goes before the Qt application it was built on.
    std::unique_ptr<Application> m_application;
    std::unique_ptr<StartupCheck> m_check;
};
