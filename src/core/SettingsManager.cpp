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
        if (key.form == Form::PortList) {
            const auto ports = defaultPorts();
            for (std::size_t i = 0; i < ports.size(); ++i)
                m_store.write(str(key.section), QString::number(i), str(ports[i]));
        }
        m_store.write(str(key.section), str(key.key), str(key.firstStartValue));
    }
    m_store.sync();
}

void SettingsManager::loadSettings()
{
    Settings loaded;
    loaded.appPath = m_settings.appPath;
    for (const Key& key : table()) {
        const QString section = str(key.section);
        switch (key.form) {
        case Form::Marker:
            break;
        case Form::PortList: {
            const int last = SettingValue::lastPortIndex(m_store.read(section, str(PortCountKey)));
            for (int i = 0; i <= last; ++i)
                loaded.ports.append(m_store.read(section, QString::number(i)));
            break;
        }
        case Form::Flag:
            loaded.*key.flag = Flag(SettingValue::flag(m_store.read(section, str(key.key))));
            break;
        case Form::Switch:
            loaded.*key.onOff = SettingValue::isTrue(m_store.read(section, str(key.key)));
            break;
        case Form::Text:
            loaded.*key.text = m_store.read(section, str(key.key));
            break;
        }
    }
    m_settings = loaded;
    m_options.setValues(loaded);
}

void SettingsManager::saveSettings()
{
    const Settings& values = m_options.values();
    for (const Key& key : table()) {
        const QString section = str(key.section);
        switch (key.form) {
        case Form::Marker:
            break;
        case Form::Flag:
            m_store.write(section, str(key.key), QString::number((values.*key.flag).value()));
            break;
        case Form::Switch:
            m_store.write(section, str(key.key), SettingValue::fromSwitch(values.*key.onOff));
            break;
        case Form::Text:
            m_store.write(section, str(key.key), values.*key.text);
            break;
        case Form::PortList: {
            // Entries beyond the new last index stay in the store; loading stops at "Number".
            const QStringList& ports = values.ports;
            m_store.write(section, str(PortCountKey), QString::number(qint16(ports.size() - 1)));
            for (qsizetype i = 0; i < ports.size(); ++i)
                m_store.write(section, QString::number(i), ports.at(i));
            break;
        }
        }
    }
    m_store.sync();
}
