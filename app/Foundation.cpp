#include "Foundation.h"

#include "SettingsKeys.h"

namespace {
IniSettingsStore openStore(const QString& file)
{
    return file.isEmpty() ? IniSettingsStore(QString::fromLatin1(SettingsKeys::Application))
                          : IniSettingsStore::atPath(file);
}
} // namespace

Foundation::Foundation(const Paths& paths)
    : m_store(openStore(paths.settingsFile))
    , m_settings(m_store, m_options)
    , m_status(m_monitoringState)
    , m_events(m_status, m_systemLog)
    , m_folder(paths.programFolder, paths.assetDirs)
{
}
