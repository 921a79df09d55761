#include "DisplayPage.h"

#include "OptionBindings.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>

using Kind = OptionBindings::Kind;
using Check = OptionsModel::Check;
using Control = OptionsModel::Control;

DisplayPage::DisplayPage(const QString& title, OptionsModel& options, OptionsCommands& commands, QWidget* parent)
    : OptionsPage(title, options, commands, parent)
{
    auto* windowGroup = new QGroupBox(QStringLiteral("System"), this);
    auto* alwaysOnTopBox = new QCheckBox(QStringLiteral("Always On &Top"), windowGroup);
    auto* minimizeBox = new QCheckBox(QStringLiteral("&Minimize On Startup"), windowGroup);
    auto* iconTrayBox = new QCheckBox(QStringLiteral("Use &IconTray"), windowGroup);
    m_hotkeysBox = new QCheckBox(QStringLiteral("Use &Hotkeys"), windowGroup);
    m_hotkeysBox->setToolTip(QStringLiteral("Right Click Here For Menu"));
    m_hotkeysBox->installEventFilter(this);
    auto* autoScrollBox = new QCheckBox(QStringLiteral("Auto &Scroll Monitor"), windowGroup);
    auto* autostartBox = new QCheckBox(QStringLiteral("&Load At Login"), windowGroup);
    auto* system = new QGridLayout(windowGroup);
    system->addWidget(alwaysOnTopBox, 0, 0);
    system->addWidget(minimizeBox, 1, 0);
    system->addWidget(iconTrayBox, 2, 0);
    system->addWidget(m_hotkeysBox, 0, 1);
    system->addWidget(autoScrollBox, 1, 1);
    system->addWidget(autostartBox, 2, 1);

    auto* attackedGroup = new QGroupBox(QStringLiteral("When Attacked"), this);
    auto* flashIconBox = new QCheckBox(QStringLiteral("&Flash Icon"), attackedGroup);
    auto* wallpaperBox = new QCheckBox(QStringLiteral("Change &Desktop Background"), attackedGroup);
    auto* attackRunBox = new QCheckBox(QStringLiteral("&Run"), attackedGroup);
    auto* clipboardBox = new QCheckBox(QStringLiteral("Copy Address To &Clipboard"), attackedGroup);
    QLineEdit* attackRunFileEdit = nullptr;
    QPushButton* attackRunBrowse = nullptr;
    auto* attacked = new QGridLayout(attackedGroup);
    attacked->addWidget(flashIconBox, 0, 0);
    attacked->addWidget(wallpaperBox, 0, 1);
    attacked->addWidget(attackRunBox, 1, 0);
    attacked->addWidget(clipboardBox, 1, 1);
    attacked->addLayout(browseRow(attackRunFileEdit, attackRunBrowse, 1, QStringLiteral("attackRunFileEdit")), 2, 0, 1, 2);

    body()->addWidget(windowGroup);
    body()->addWidget(attackedGroup);

    new OptionBindings(options,
        {
            { alwaysOnTopBox, Kind::Check, int(Check::AlwaysTop) },
            { minimizeBox, Kind::Check, int(Check::Minimize) },
            { iconTrayBox, Kind::Check, int(Check::IconTray) },
            { m_hotkeysBox, Kind::Check, int(Check::Hotkeys) },
            { autoScrollBox, Kind::Check, int(Check::AutoScroll) },
            { autostartBox, Kind::Check, int(Check::LoadAtLogin) },
            { flashIconBox, Kind::Check, int(Check::FlashIcon) },
            { wallpaperBox, Kind::Check, int(Check::DesktopBackground) },
            { attackRunBox, Kind::Check, int(Check::AttackRun) },
            { clipboardBox, Kind::Check, int(Check::Clipboard) },
            { attackRunFileEdit, Kind::Text, int(OptionsModel::Text::AttackRun) },
            { attackRunFileEdit, Kind::Enabled, int(Control::AttackRunText) },
            { attackRunBrowse, Kind::Enabled, int(Control::AttackRunBrowse) },
        },
        this);
}

QString DisplayPage::hotkeyHelpText()
{
    return QStringLiteral("F9  - Start/Stop Monitoring\n"
                          "F10 - Show/Hide Monitor\n"
                          "F11 - Options\n"
                          "F12 - Clear Messages\n");
}

bool DisplayPage::eventFilter(QObject* watched, QEvent* event)
{
    // The right button explains the keys and leaves the check box as it is.
    if (watched == m_hotkeysBox && event->type() == QEvent::MouseButtonPress
        && static_cast<QMouseEvent*>(event)->button() == Qt::RightButton) {
        showHotkeyHelp();
        return true;
    }
    return OptionsPage::eventFilter(watched, event);
}

void DisplayPage::showHotkeyHelp()
{
    QMessageBox box(QMessageBox::Information, QStringLiteral("Hotkeys Menu"), hotkeyHelpText(), QMessageBox::Ok,
        window());
    box.exec();
}
