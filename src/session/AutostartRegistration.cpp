#include "AutostartRegistration.h"

#include <QCoreApplication>

AutostartRegistration::AutostartRegistration(AutostartEntry entry, ProgramPath programPath)
    : m_entry(std::move(entry))
    , m_programPath(std::move(programPath))
{
    if (!m_programPath)
        m_programPath = [] { return QCoreApplication::applicationFilePath(); };
}

QString AutostartRegistration::addToStartup()
{
    return write(true);
}

QString AutostartRegistration::removeFromStartup()
{
    return write(false);
}

QString AutostartRegistration::write(bool enabled)
{
    QString error;
    if (m_entry.write(m_programPath(), enabled, &error))
        return {};
    return QStringLiteral("Cannot write the autostart entry %1: %2").arg(m_entry.fileName(), error);
}
