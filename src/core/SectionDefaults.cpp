#include "SectionDefaults.h"

#include "SettingsStore.h"

namespace SectionDefaults {

QStringList readOrSeed(SettingsStore& store, const char* section, std::span<const SectionKey> keys)
{
    const QString name = QString::fromLatin1(section);
    QStringList values;
    bool wrote = false;
    for (const SectionKey& entry : keys) {
        const QString key = QString::fromLatin1(entry.key);
        QString value = store.read(name, key);
        // A missing key reads as empty; writing an empty first-start value again changes nothing.
        if (value.isEmpty()) {
            value = QString::fromLatin1(entry.firstStartValue);
            store.write(name, key, value);
            wrote = true;
        }
        values.append(value);
    }
    if (wrote)
        store.sync();
    return values;
}

void write(SettingsStore& store, const char* section, std::span<const SectionKey> keys, const QStringList& values)
{
    const QString name = QString::fromLatin1(section);
    for (std::size_t i = 0; i < keys.size(); ++i)
        store.write(name, QString::fromLatin1(keys[i].key), values.value(qsizetype(i)));
    store.sync();
}

QString flag(bool on)
{
    return on ? QStringLiteral("1") : QStringLiteral("0");
}

} // namespace SectionDefaults
