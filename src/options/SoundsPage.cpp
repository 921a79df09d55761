#include "SoundsPage.h"

#include "OptionBindings.h"
#include "OptionsModel.h"

#include <QBoxLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <array>

using namespace OptionBindings;
using Control = OptionsModel::Control;

SoundsPage::SoundsPage(
    const QString& title, OptionsModel& options, OptionsCommands& commands, QWidget* parent)
    : OptionsPage(title, options, commands, parent)
{
    static constexpr std::array<const char*, OptionsModel::SoundCount> kLabels { "Net Connection",
        "Net Disconnect", "Intruder Attack", "Start Protecting" };

    auto* soundsOn = new QRadioButton(QStringLiteral("O&n"), this);
    auto* soundsGroup = new QGroupBox(this);
    soundsGroup->setObjectName(QStringLiteral("soundsGroup"));
    auto* soundsOff = new QRadioButton(QStringLiteral("O&ff"), this);
    auto* rows = new QGridLayout(soundsGroup);
    std::array<QLineEdit*, OptionsModel::SoundCount> soundFileEdits {};
    std::array<QPushButton*, OptionsModel::SoundCount> browseButtons {};
    for (int i = 0; i < OptionsModel::SoundCount; ++i) {
        rows->addWidget(new QLabel(QString::fromLatin1(kLabels[std::size_t(i)]), soundsGroup), i, 0);
        rows->addLayout(browseRow(soundFileEdits[std::size_t(i)], browseButtons[std::size_t(i)], i + 2,
                            QStringLiteral("soundFileEdit%1").arg(i)),
            i, 1);
    }
    body()->addWidget(soundsOn);
    body()->addWidget(soundsGroup);
    body()->addWidget(soundsOff);

    bindValue(options, soundsOn, soundsOff, member(options, &Settings::soundsOn));
    bindEnabled(options, soundsGroup, enabledAs(options, Control::SoundsGroup));
    for (int i = 0; i < OptionsModel::SoundCount; ++i) {
        const std::size_t at = std::size_t(i);
        bindValue(options, soundFileEdits[at], member(options, Settings::SoundFiles[at]));
        bindEnabled(options, soundFileEdits[at], enabledAs(options, Control(int(Control::SoundText0) + i)));
        bindEnabled(options, browseButtons[at], enabledAs(options, Control(int(Control::SoundBrowse0) + i)));
    }
}
