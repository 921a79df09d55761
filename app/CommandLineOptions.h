#pragma once

#include <QString>

#include <optional>

// What the command line asks for. Help, the version and mistakes are answered while parsing:
// exitCode is then set and the program does not start.
struct CommandLineOptions
{
    bool headless = false;
    bool check = false;
    QString settingsFile; // empty: the user's default store
    std::optional<int> exitCode;

    // Prints help and the version to standard output and mistakes to standard error.
    static CommandLineOptions parse(int argc, char** argv);
};
