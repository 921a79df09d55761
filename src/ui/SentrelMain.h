#pragma once

#include <memory>

class Application;
class QApplication;

// The program's start-up, shared by the installed binary and the tools that measure it, so that
// they measure the program exactly as it runs. Construction leaves the program started; exec()
// runs its event loop.
class SentrelMain
{
public:
    // argc must outlive this object, as QApplication requires.
    SentrelMain(int& argc, char** argv);
    ~SentrelMain();

    SentrelMain(const SentrelMain&) = delete;
    SentrelMain& operator=(const SentrelMain&) = delete;

    int exec();

private:
    std::unique_ptr<QApplication> m_qtApplication;
    // After the QApplication, so that the program goes before the Qt application it was built on.
    std::unique_ptr<Application> m_application;
};
