#include "OptionsModel.h"

#include "SettingsKeys.h"

#include <algorithm>
#include <functional>

OptionsModel::OptionsModel(QObject* parent)
    : QObject(parent)
{
}

void OptionsModel::setValues(const Settings& values)
{
    m_values = values;
    for (const SettingsKeys::Key& key : SettingsKeys::table()) {
        if (key.flag)
            m_values.*key.flag = (m_values.*key.flag).checkState();
    }
    emit reloaded();
    emit changed();
}

QString OptionsModel::soundFile(int soundIndex) const
{
    if (soundIndex < 0 || soundIndex >= SoundCount)
        return {};
    return m_values.*Settings::SoundFiles[std::size_t(soundIndex)];
}

QStringList& OptionsModel::entries(List list)
{
    switch (list) {
    case List::UdpPorts:
        return m_values.detection.udpPorts;
    case List::AllowEntries:
        return m_values.alarm.allowEntries;
    case List::Ports:
        break;
    }
    return m_values.ports;
}

void OptionsModel::append(List list, const QString& entry)
{
    entries(list).append(entry);
    emit changed();
}

void OptionsModel::remove(List list, QList<int> rows)
{
    // Back to front, so that the rows still to go keep their numbers; each row goes once.
    std::sort(rows.begin(), rows.end(), std::greater<>());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    bool removed = false;
    for (int row : std::as_const(rows)) {
        if (row < 0 || row >= entries(list).size())
            continue;
        entries(list).removeAt(row);
        removed = true;
    }
    if (removed)
        emit changed();
}

bool OptionsModel::isEnabled(Control control) const
{
    switch (control) {
    case Control::StartRunText:
    case Control::StartRunBrowse:
        return m_values.run.isOn();
    case Control::LogsRead:
    case Control::LogsPurge:
        return m_values.logs;
    case Control::AttackRunText:
    case Control::AttackRunBrowse:
        return m_values.attackRun.isOn();
    case Control::ChatServiceText:
        return m_values.chatOn.isOn();
    case Control::SoundsGroup:
    case Control::SoundText0:
    case Control::SoundText1:
    case Control::SoundText2:
    case Control::SoundText3:
    case Control::SoundBrowse0:
    case Control::SoundBrowse1:
    case Control::SoundBrowse2:
    case Control::SoundBrowse3:
        return m_values.soundsOn;
    case Control::Count:
        break;
    }
    return true;
}
