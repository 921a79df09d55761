#include "AutostartRegistration.h"

#include <QCoreApplication>

AutostartRegistration::AutostartRegistration(AutostartEntry entry, ProgramPath programPath)
    : m_entry(std::move(entry))
    , m_programPath(std::move(programPath))
{
    if (!m_programPath)
        m_programPath = [] { return QCoreApplication::applicationFilePath(); };
}

void AutostartRegistration::addToStartup()
{
    m_entry.write(m_programPath(), true);
}

void AutostartRegistration::removeFromStartup()
{
    m_entry.write(m_programPath(), false);
}
