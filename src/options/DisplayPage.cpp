#include "DisplayPage.h"

#include "OptionBindings.h"
#include "OptionsModel.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>

using namespace OptionBindings;
using Control = OptionsModel::Control;

DisplayPage::DisplayPage(
    const QString& title, OptionsModel& options, OptionsCommands& commands, QWidget* parent)
    : OptionsPage(title, options, commands, parent)
{
    auto* windowGroup = new QGroupBox(QStringLiteral("System"), this);
    auto* alwaysOnTopBox = flagBox(QStringLiteral("Always On &Top"), &Settings::alwaysOnTop, windowGroup);
    auto* minimizeBox = flagBox(QStringLiteral("&Minimize On Startup"), &Settings::minOnStartup, windowGroup);
    auto* iconTrayBox = flagBox(QStringLiteral("Use &IconTray"), &Settings::useIconTray, windowGroup);
    m_hotkeysBox = flagBox(QStringLiteral("Use &Hotkeys"), &Settings::useHotkeys, windowGroup);
    m_hotkeysBox->setToolTip(QStringLiteral("Right Click Here For Menu"));
    m_hotkeysBox->installEventFilter(this);
    auto* autoScrollBox
        = flagBox(QStringLiteral("Auto &Scroll Monitor"), &Settings::autoScrollMonitor, windowGroup);
    auto* autostartBox = flagBox(QStringLiteral("&Load At Login"), &Settings::loadAtLogin, windowGroup);
    auto* system = new QGridLayout(windowGroup);
    system->addWidget(alwaysOnTopBox, 0, 0);
    system->addWidget(minimizeBox, 1, 0);
    system->addWidget(iconTrayBox, 2, 0);
    system->addWidget(m_hotkeysBox, 0, 1);
    system->addWidget(autoScrollBox, 1, 1);
    system->addWidget(autostartBox, 2, 1);

    auto* attackedGroup = new QGroupBox(QStringLiteral("When Attacked"), this);
    auto* flashIconBox = flagBox(QStringLiteral("&Flash Icon"), &Settings::flashIcon, attackedGroup);
    auto* wallpaperBox
        = flagBox(QStringLiteral("Change &Desktop Background"), &Settings::changeBackground, attackedGroup);
    auto* attackRunBox = flagBox(QStringLiteral("&Run"), &Settings::attackRun, attackedGroup);
    auto* clipboardBox
        = flagBox(QStringLiteral("Copy Address To &Clipboard"), &Settings::copyClipboard, attackedGroup);
    QLineEdit* attackRunFileEdit = nullptr;
    QPushButton* attackRunBrowse = nullptr;
    auto* attacked = new QGridLayout(attackedGroup);
    attacked->addWidget(flashIconBox, 0, 0);
    attacked->addWidget(wallpaperBox, 0, 1);
    attacked->addWidget(attackRunBox, 1, 0);
    attacked->addWidget(clipboardBox, 1, 1);
    attacked->addLayout(
        browseRow(attackRunFileEdit, attackRunBrowse, 1, QStringLiteral("attackRunFileEdit")), 2, 0, 1, 2);

    body()->addWidget(windowGroup);
    body()->addWidget(attackedGroup);

    bindValue(options, attackRunFileEdit, member(options, &Settings::attackRunFile));
    bindEnabled(options, attackRunFileEdit, enabledAs(options, Control::AttackRunText));
    bindEnabled(options, attackRunBrowse, enabledAs(options, Control::AttackRunBrowse));
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
    QMessageBox box(QMessageBox::Information, QStringLiteral("Hotkeys Menu"), hotkeyHelpText(),
        QMessageBox::Ok, window());
    box.exec();
}
