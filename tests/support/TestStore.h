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
