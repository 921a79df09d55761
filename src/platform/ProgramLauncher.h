#pragma once

#include <QString>

// Starts another program from a command line and does not wait for it.
class ProgramLauncher
{
public:
    virtual ~ProgramLauncher() = default;

    // Splits the command line into program and arguments as a shell splits words and starts it
    // detached, never through a shell. Returns false when it could not be started.
    virtual bool start(const QString& commandLine) = 0;
};
