#include "OptionsModel.h"

OptionsModel::OptionsModel(QObject* parent)
    : QObject(parent)
{
    reset();
}

void OptionsModel::reset()
{
    m_checks.fill(0);
    m_choices.fill(false);
    for (QString& text : m_texts)
        text.clear();
    m_enabled.fill(true);
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
    if (check == Check::StartRun || check == Check::AttackRun || check == Check::DdeOn)
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

void OptionsModel::removePortAt(int row)
{
    if (row < 0 || row >= m_ports.size())
        return;
    m_ports.removeAt(row);
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

    setEnabled(Control::DdeText, isChecked(Check::DdeOn));
}

void OptionsModel::setEnabled(Control control, bool enabled)
{
    if (m_enabled[index(control)] == enabled)
        return;
    m_enabled[index(control)] = enabled;
    emit enabledChanged(control);
}
