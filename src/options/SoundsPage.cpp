#include "SoundsPage.h"

#include "OptionBindings.h"

#include <QBoxLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <array>

using Kind = OptionBindings::Kind;
using Control = OptionsModel::Control;
using Text = OptionsModel::Text;

SoundsPage::SoundsPage(const QString& title, OptionsModel& options, OptionsCommands& commands, QWidget* parent)
    : OptionsPage(title, options, commands, parent)
{
    static constexpr std::array<const char*, OptionsModel::SoundCount> kLabels {
        "Net Connection", "Net Disconnect", "Intruder Attack", "Start Protecting"
    };

    auto* soundsOn = new QRadioButton(QStringLiteral("O&n"), this);
    auto* soundsGroup = new QGroupBox(this);
    soundsGroup->setObjectName(QStringLiteral("soundsGroup"));
    auto* soundsOff = new QRadioButton(QStringLiteral("O&ff"), this);
    auto* rows = new QGridLayout(soundsGroup);
    std::array<QLineEdit*, OptionsModel::SoundCount> soundFileEdits {};
    std::array<QPushButton*, OptionsModel::SoundCount> browseButtons {};
    for (int i = 0; i < OptionsModel::SoundCount; ++i) {
        rows->addWidget(new QLabel(QString::fromLatin1(kLabels[std::size_t(i)]), soundsGroup), i, 0);
        rows->addLayout(browseRow(soundFileEdits[std::size_t(i)], browseButtons[std::size_t(i)], i + 2, QStringLiteral("soundFileEdit%1").arg(i)), i, 1);
    }
    body()->addWidget(soundsOn);
    body()->addWidget(soundsGroup);
    body()->addWidget(soundsOff);

    const auto text = [&](int i) { return soundFileEdits[std::size_t(i)]; };
    const auto button = [&](int i) { return browseButtons[std::size_t(i)]; };
    const auto sound = [](auto first, int i) { return int(first) + i; };
    new OptionBindings(options,
        {
            { soundsOn, Kind::OnOff, int(OptionsModel::Choice::Sounds), soundsOff },
            { soundsGroup, Kind::Enabled, int(Control::SoundsGroup) },
            { text(0), Kind::Text, sound(Text::Sound0, 0) },
            { text(1), Kind::Text, sound(Text::Sound0, 1) },
            { text(2), Kind::Text, sound(Text::Sound0, 2) },
            { text(3), Kind::Text, sound(Text::Sound0, 3) },
            { text(0), Kind::Enabled, sound(Control::SoundText0, 0) },
            { text(1), Kind::Enabled, sound(Control::SoundText0, 1) },
            { text(2), Kind::Enabled, sound(Control::SoundText0, 2) },
            { text(3), Kind::Enabled, sound(Control::SoundText0, 3) },
            { button(0), Kind::Enabled, sound(Control::SoundBrowse0, 0) },
            { button(1), Kind::Enabled, sound(Control::SoundBrowse0, 1) },
            { button(2), Kind::Enabled, sound(Control::SoundBrowse0, 2) },
            { button(3), Kind::Enabled, sound(Control::SoundBrowse0, 3) },
        },
        this);
}
