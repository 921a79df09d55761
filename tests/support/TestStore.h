#pragma once

#include "IniSettingsStore.h"

// A settings store in its own temporary folder; path() names its file for a look at the raw bytes.
class TestStore
{
public:
    TestStore()
        : m_store(IniSettingsStore::atPath(path()))
    {
    }

    QString path() const { return m_dir.filePath(QStringLiteral("Sentrel II.ini")); }
    IniSettingsStore& store() { return m_store; }

private:
    QTemporaryDir m_dir;
    IniSettingsStore m_store;
};

// "Section/Key=value;..." written into a store, as a user editing the file would.
inline void writeValues(SettingsStore& store, const QString& values)
{
    for (const QString& s : values.split(';', Qt::SkipEmptyParts))
        store.write(s.section('/', 0, 0), s.section('/', 1).section('=', 0, 0), s.section('=', 1));
}
