#pragma once

#include "SettingsStore.h"

#include <QSettings>

// Settings store backed by one INI file per user (~/.config/Sentrel II.ini by default), readable
// by that user only.
class IniSettingsStore final : public SettingsStore
{
public:
    // The user-scope store of the named application, with no fallback to system-wide files.
    explicit IniSettingsStore(const QString& applicationName);
    // A store in an explicit file, for tests and tools.
    static IniSettingsStore atPath(const QString& filePath);

    QString read(const QString& section, const QString& key) const override;
    void write(const QString& section, const QString& key, const QString& value) override;
    void sync() override;

    QString fileName() const { return m_settings->fileName(); }

private:
    explicit IniSettingsStore(std::unique_ptr<QSettings> settings);

    std::unique_ptr<QSettings> m_settings;
    bool m_madePrivate = false;
};
