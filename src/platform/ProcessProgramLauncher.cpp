#include "ProcessProgramLauncher.h"

#include "CommandLine.h"

#include <QProcess>

bool ProcessProgramLauncher::start(const QString& commandLine)
{
    QStringList words = CommandLine::splitWords(commandLine);
    if (words.isEmpty())
        return false;
    const QString program = words.takeFirst();
    return QProcess::startDetached(program, words);
}
