#pragma once

#include <QList>
#include <QPair>
#include <QString>

// Starts another program from a command line and does not wait for it.
class ProgramLauncher
{
public:
    // Variables added to the program's environment, name and value.
    using Environment = QList<QPair<QString, QString>>;

    virtual ~ProgramLauncher() = default;

    // Splits the command line into program and arguments as a shell splits words and starts it
    // detached, never through a shell, with the variables added to this process's environment.
    // Returns false when it could not be started.
    [[nodiscard]] virtual bool start(const QString& commandLine, const Environment& environment = {}) = 0;
};
