#include "SettingsManager.h"

#include "OptionsModel.h"
#include "SettingValue.h"
#include "SettingsKeys.h"
#include "SettingsStore.h"

using namespace SettingsKeys;

namespace {
QString str(const char* text)
{
    return QString::fromLatin1(text);
}

void writeList(SettingsStore& store, const QString& section, const QStringList& entries)
{
    // Entries beyond the new last index stay in the store; loading stops at "Number".
    store.write(section, str(PortCountKey), QString::number(qint16(entries.size() - 1)));
    for (qsizetype i = 0; i < entries.size(); ++i)
        store.write(section, QString::number(i), entries.at(i));
}

QStringList listOf(std::span<const char* const> entries)
{
    QStringList list;
    for (const char* entry : entries)
        list << str(entry);
    return list;
}
} // namespace

SettingsManager::SettingsManager(SettingsStore& store, OptionsModel& options)
    : m_store(store)
    , m_options(options)
{
}

void SettingsManager::firstStartup()
{
    if (m_store.read(str(GeneralSection), str(MarkerKey)) == str(Application))
        return;

    for (const Key& key : table()) {
        if (key.later)
            continue;
        if (key.form == Form::PortList)
            writeList(m_store, str(key.section), listOf(key.firstStartList));
        else
            m_store.write(str(key.section), str(key.key), str(key.firstStartValue));
    }
    m_store.sync();
}

void SettingsManager::loadSettings()
{
    Settings loaded;
    loaded.appPath = m_settings.appPath;
    bool wrote = false;
    for (const Key& key : table()) {
        const QString section = str(key.section);
        QString text = m_store.read(section, str(key.key));
        // A missing key reads as empty; writing an empty first-start value again changes nothing.
        const bool seed = key.later && text.isEmpty();
        wrote = wrote || seed;
        switch (key.form) {
        case Form::Marker:
            break;
        case Form::PortList: {
            QStringList& entries = key.list(loaded);
            if (seed) {
                entries = listOf(key.firstStartList);
                writeList(m_store, section, entries);
                break;
            }
            const int last = SettingValue::lastPortIndex(text);
            for (int i = 0; i <= last; ++i)
                entries.append(m_store.read(section, QString::number(i)));
            break;
        }
        case Form::Value:
            if (seed) {
                text = str(key.firstStartValue);
                m_store.write(section, str(key.key), text);
            }
            key.load(loaded, text, key.firstStartValue);
            break;
        }
    }
    if (wrote)
        m_store.sync();
    m_settings = loaded;
    m_options.setValues(loaded);
}

void SettingsManager::saveSettings()
{
    Settings values = m_options.values();
    for (const Key& key : table()) {
        const QString section = str(key.section);
        if (key.form == Form::PortList)
            writeList(m_store, section, key.list(values));
        else if (key.form == Form::Value)
            m_store.write(section, str(key.key), key.save(values));
    }
    m_store.sync();
}
