#include "ProcessProgramLauncher.h"

#include <QProcess>

bool ProcessProgramLauncher::start(const QString& commandLine)
{
    QStringList words = QProcess::splitCommand(commandLine);
    if (words.isEmpty())
        return false;
    const QString program = words.takeFirst();
    return QProcess::startDetached(program, words);
}
