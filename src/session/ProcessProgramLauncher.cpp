#include "ProcessProgramLauncher.h"

#include "ChildCapabilities.h"
#include "CommandLine.h"

#include <QProcess>

bool ProcessProgramLauncher::start(const QString& commandLine, const Environment& environment)
{
    QStringList words = CommandLine::splitWords(commandLine);
    if (words.isEmpty())
        return false;
    QProcess process;
    process.setProgram(words.takeFirst());
    process.setArguments(words);
    if (!environment.isEmpty()) {
        QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
        for (const auto& [name, value] : environment)
            variables.insert(name, value);
        process.setProcessEnvironment(variables);
    }
    return withholdCapabilitiesFromChildren() && process.startDetached();
}
