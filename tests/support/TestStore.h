#pragma once

#include "IniSettingsStore.h"

#include <QSettings>
#include <QTemporaryDir>

// A settings store in its own temporary folder, with a way to look at the raw file.
class TestStore
{
public:
    TestStore()
        : m_store(IniSettingsStore::atPath(path()))
    {
    }

    QString path() const { return m_dir.filePath(QStringLiteral("Sentrel II.ini")); }
    IniSettingsStore& store() { return m_store; }

    // Every key in the file, as "Section/Key".
    QStringList keys() const
    {
        QSettings file(path(), QSettings::IniFormat);
        return file.allKeys();
    }

private:
    QTemporaryDir m_dir;
    IniSettingsStore m_store;
};
