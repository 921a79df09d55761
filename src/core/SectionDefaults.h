#pragma once

#include <QStringList>

#include <span>

class SettingsStore;

// A store section added after the original keys: each key with the value a first start writes.
struct SectionKey
{
    const char* key;
    const char* firstStartValue;
};

namespace SectionDefaults {
// The section's values in key order. A key that is missing (or empty) gets its first-start value,
// written back so that an older store gains the section on its next start; the store is synced
// only when something was written.
QStringList readOrSeed(SettingsStore& store, const char* section, std::span<const SectionKey> keys);
// Writes the values in key order and syncs the store.
void write(SettingsStore& store, const char* section, std::span<const SectionKey> keys, const QStringList& values);
// "1" or "0", as the sections store their switches.
QString flag(bool on);
} // namespace SectionDefaults
