#include "TestMain.h"

#include <cstdio>
#include <map>
#include <string>

namespace {

std::map<std::string, TestMain::Run>& registered()
{
    static std::map<std::string, TestMain::Run> tests;
    return tests;
}

} // namespace

bool TestMain::add(const char* file, Run run)
{
    std::string name = file;
    name.erase(0, name.find_last_of('/') + 1);
    name.erase(name.find_last_of('.'));
    return registered().emplace(name, run).second;
}

// "program tst_Name [QtTest arguments]": the class from tst_Name.cpp, as if it were the program.
int main(int argc, char** argv)
{
    const auto test = argc > 1 ? registered().find(argv[1]) : registered().end();
    if (test == registered().end()) {
        std::fprintf(stderr, "usage: %s TEST [QtTest arguments]\ntests:", argv[0]);
        for (const auto& [name, run] : registered())
            std::fprintf(stderr, " %s", name.c_str());
        std::fprintf(stderr, "\n");
        return 2;
    }
    argv[1] = argv[0];
    return test->second(argc - 1, argv + 1);
}
