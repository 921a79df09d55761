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
    m_options.reset();

    for (const Key& key : table()) {
        const QString section = str(key.section);
        if (key.form == Form::Marker)
            continue;
        if (key.form == Form::PortList) {
            const int last = SettingValue::lastPortIndex(m_store.read(section, str(PortCountKey)));
            for (int i = 0; i <= last; ++i)
                m_options.appendPort(m_store.read(section, QString::number(i)));
            continue;
        }

        const QString value = m_store.read(section, str(key.key));
        if (key.field)
            m_settings.*key.field = value;
        switch (key.form) {
        case Form::Flag:
            m_options.setCheckState(OptionsModel::Check(key.control), SettingValue::flag(value));
            break;
        case Form::Switch:
            m_options.setOn(OptionsModel::Choice(key.control), SettingValue::isTrue(value));
            break;
        case Form::Text:
            m_options.setText(OptionsModel::Text(key.control), value);
            break;
        case Form::Marker:
        case Form::PortList:
            break;
        }
    }

    m_options.refreshOptionStates();
}

void SettingsManager::saveSettings()
{
    for (const Key& key : table()) {
        const QString section = str(key.section);
        switch (key.form) {
        case Form::Marker:
            break;
        case Form::Flag:
            m_store.write(section, str(key.key),
                QString::number(m_options.checkState(OptionsModel::Check(key.control))));
            break;
        case Form::Switch:
            m_store.write(section, str(key.key),
                SettingValue::fromSwitch(m_options.isOn(OptionsModel::Choice(key.control))));
            break;
        case Form::Text:
            m_store.write(section, str(key.key), m_options.text(OptionsModel::Text(key.control)));
            break;
        case Form::PortList: {
            // Entries beyond the new last index stay in the store; loading stops at "Number".
            const QStringList& ports = m_options.ports();
            m_store.write(section, str(PortCountKey), QString::number(qint16(ports.size() - 1)));
            for (qsizetype i = 0; i < ports.size(); ++i)
                m_store.write(section, QString::number(i), ports.at(i));
            break;
        }
        }
    }
    m_store.sync();
}
