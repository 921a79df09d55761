#include "IniSettingsStore.h"

#include "PrivateFiles.h"

#include <QStringList>

#include <utility>

IniSettingsStore::IniSettingsStore(const QString& applicationName)
    : IniSettingsStore(
        std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, applicationName))
{
}

IniSettingsStore::IniSettingsStore(std::unique_ptr<QSettings> settings)
    : m_settings(std::move(settings))
{
    m_settings->setFallbacksEnabled(false);
}

IniSettingsStore IniSettingsStore::atPath(const QString& filePath)
{
    return IniSettingsStore(std::make_unique<QSettings>(filePath, QSettings::IniFormat));
}

QString IniSettingsStore::read(const QString& section, const QString& key) const
{
    const QVariant value = m_settings->value(section + QLatin1Char('/') + key);
    // A hand-edited value with an unquoted comma parses as a list; give it back as the text it was.
    if (value.userType() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1String(", "));
    return value.toString();
}

void IniSettingsStore::write(const QString& section, const QString& key, const QString& value)
{
    // Before the first write can reach the disk: the file is saved by replacing it with a copy
    // that keeps its permissions, so once private it stays private. Where it cannot be made,
    // the save meets the same obstacle and fails the same way.
    if (!std::exchange(m_madePrivate, true))
        static_cast<void>(PrivateFiles::makePrivateFile(m_settings->fileName()));
    m_settings->setValue(section + QLatin1Char('/') + key, value);
}

void IniSettingsStore::sync()
{
    m_settings->sync();
}
