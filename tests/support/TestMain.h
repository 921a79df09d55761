#pragma once

// The test classes of one folder share one program, so that a folder pays one link and one automoc
// step instead of one per class; the program's first argument names the class to run. This header
// is precompiled and included ahead of every test file: QtTest's main() macros there register the
// class under its file's name (tst_Name) instead of defining main(). It holds the Qt modules the
// tests use, so test files include only the program's own headers and the system's.

#include <QtDBus>
#include <QtNetwork>
#include <QtTest>
#include <QtWidgets>

namespace TestMain {

using Run = int (*)(int argc, char** argv);
bool add(const char* file, Run run);

struct Nothing
{
    Nothing() = default;
    Nothing(int&, char**) { }
    void setAttribute(Qt::ApplicationAttribute, bool) { }
};

// As QtTest's own main(): Setup (a private X server, say) comes first, then the application.
template <typename TestClass, typename Setup, typename Application>
int run(int argc, char** argv, const char* file)
{
    QTest::Internal::callInitMain<TestClass>();
    [[maybe_unused]] Setup setup;
    Application app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    TestClass test;
    QTest::setMainSourcePath(file);
    return QTest::qExec(&test, argc, argv);
}

} // namespace TestMain

#define SENTREL_TEST_MAIN(TestClass, Setup, Application)                                                    \
    static const bool sentrelTestRegistered = TestMain::add(__FILE__, [](int argc, char** argv) {          \
        return TestMain::run<TestClass, Setup, Application>(argc, argv, __FILE__);                           \
    });

#undef QTEST_MAIN
#undef QTEST_GUILESS_MAIN
#undef QTEST_APPLESS_MAIN
#define QTEST_MAIN(TestClass) SENTREL_TEST_MAIN(TestClass, TestMain::Nothing, QApplication)
#define QTEST_GUILESS_MAIN(TestClass) SENTREL_TEST_MAIN(TestClass, TestMain::Nothing, QCoreApplication)
#define QTEST_APPLESS_MAIN(TestClass) SENTREL_TEST_MAIN(TestClass, TestMain::Nothing, TestMain::Nothing)
