#include "OptionsModel.h"

#include <algorithm>
#include <functional>

OptionsModel::OptionsModel(QObject* parent)
    : QObject(parent)
{
    reset();
}

void OptionsModel::reset()
{
    // Every value that changes is signalled: a bound widget still showing an edit must follow
    // even when the value loaded next equals the reset one and so changes nothing.
    for (int i = 0; i < int(Check::Count); ++i)
        assign(m_checks[i], 0, [this, i] { emit checkStateChanged(Check(i)); });
    for (int i = 0; i < int(Choice::Count); ++i)
        assign(m_choices[i], false, [this, i] { emit choiceChanged(Choice(i)); });
    for (int i = 0; i < int(Text::Count); ++i)
        assign(m_texts[i], QString(), [this, i] { emit textChanged(Text(i)); });
    for (int i = 0; i < int(Control::Count); ++i)
        assign(m_enabled[i], true, [this, i] { emit enabledChanged(Control(i)); });
    m_ports.clear();
    emit portsChanged();
}

void OptionsModel::setCheckState(Check check, int state)
{
    if (state < 0 || state > 2)
        state = 0;
    if (m_checks[index(check)] == state)
        return;
    m_checks[index(check)] = state;
    emit checkStateChanged(check);
    if (check == Check::StartRun || check == Check::AttackRun || check == Check::ChatOn)
        refreshOptionStates();
}

void OptionsModel::setOn(Choice choice, bool on)
{
    if (m_choices[index(choice)] == on)
        return;
    m_choices[index(choice)] = on;
    emit choiceChanged(choice);
    refreshOptionStates();
}

void OptionsModel::setText(Text text, const QString& value)
{
    if (m_texts[index(text)] == value)
        return;
    m_texts[index(text)] = value;
    emit textChanged(text);
}

QString OptionsModel::soundFile(int soundIndex) const
{
    if (soundIndex < 0 || soundIndex >= SoundCount)
        return {};
    return m_texts[index(Text::Sound0) + soundIndex];
}

void OptionsModel::appendPort(const QString& port)
{
    m_ports.append(port);
    emit portsChanged();
}

void OptionsModel::removePorts(QList<int> rows)
{
    // Back to front, so that the rows still to go keep their numbers; each row goes once.
    std::sort(rows.begin(), rows.end(), std::greater<>());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    bool removed = false;
    for (int row : std::as_const(rows)) {
        if (row < 0 || row >= m_ports.size())
            continue;
        m_ports.removeAt(row);
        removed = true;
    }
    if (removed)
        emit portsChanged();
}

void OptionsModel::refreshOptionStates()
{
    const bool startRun = isChecked(Check::StartRun);
    setEnabled(Control::StartRunText, startRun);
    setEnabled(Control::StartRunBrowse, startRun);

    // A switch stored as false shows as Off: loading only deselects On, so Off is selected here.
    const bool logs = isOn(Choice::Logs);
    setEnabled(Control::LogsRead, logs);
    setEnabled(Control::LogsPurge, logs);

    const bool attackRun = isChecked(Check::AttackRun);
    setEnabled(Control::AttackRunText, attackRun);
    setEnabled(Control::AttackRunBrowse, attackRun);

    const bool sounds = isOn(Choice::Sounds);
    setEnabled(Control::SoundsGroup, sounds);
    for (int i = 0; i < SoundCount; ++i) {
        setEnabled(static_cast<Control>(index(Control::SoundText0) + i), sounds);
        setEnabled(static_cast<Control>(index(Control::SoundBrowse0) + i), sounds);
    }

    setEnabled(Control::ChatServiceText, isChecked(Check::ChatOn));
}

void OptionsModel::setEnabled(Control control, bool enabled)
{
    if (m_enabled[index(control)] == enabled)
        return;
    m_enabled[index(control)] = enabled;
    emit enabledChanged(control);
}
