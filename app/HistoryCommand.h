#pragma once

#include "CommandLineOptions.h"

#include <QString>

#include <cstdio>

// `sentrel --history`: the incidents of the store at path that the filter matches, newest first, as
// a table for people, JSON lines or CSV for scripts. Reads beside a running Sentrel, which goes on
// writing meanwhile. Returns the exit status: 0, or 1 (with the reason on err) when the history
// cannot be read.
namespace HistoryCommand {

int run(const CommandLineOptions& options, const QString& path, std::FILE* out, std::FILE* err);

} // namespace HistoryCommand
