#pragma once

#include <QString>

// The per-user settings store: application, section and key, every value held as text.
// A key that does not exist reads as empty text; nothing is ever deleted.
class SettingsStore
{
public:
    virtual ~SettingsStore() = default;

    virtual QString read(const QString& section, const QString& key) const = 0;
    virtual void write(const QString& section, const QString& key, const QString& value) = 0;
    // Puts pending writes on disk; callers sync at the end of a batch of writes.
    virtual void sync() = 0;
};
