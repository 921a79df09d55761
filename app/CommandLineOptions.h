#pragma once

#include "HistoryFilter.h"

#include <QString>

#include <optional>

// What the command line asks for. Help, the version and mistakes are answered while parsing:
// exitCode is then set and the program does not start.
struct CommandLineOptions
{
    bool headless = false;
    bool check = false;
    QString settingsFile; // empty: the user's default store
    // --history: print the incidents the filter matches instead of starting.
    enum class HistoryOutput { Table, JsonLines, Csv };
    bool history = false;
    HistoryFilter historyFilter;
    HistoryOutput historyOutput = HistoryOutput::Table;
    std::optional<int> exitCode;

    // Prints help and the version to standard output and mistakes to standard error.
    static CommandLineOptions parse(int argc, char** argv);
};
