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
    auto* fraSystem = new QGroupBox(QStringLiteral("System"), this);
    auto* chkAlwaystop = new QCheckBox(QStringLiteral("Always On &Top"), fraSystem);
    auto* chkMinimize = new QCheckBox(QStringLiteral("&Minimize On Startup"), fraSystem);
    auto* chkIcontray = new QCheckBox(QStringLiteral("Use &IconTray"), fraSystem);
    m_chkHotkeys = new QCheckBox(QStringLiteral("Use &Hotkeys"), fraSystem);
    m_chkHotkeys->setToolTip(QStringLiteral("Right Click Here For Menu"));
    m_chkHotkeys->installEventFilter(this);
    auto* chkAutoscroll = new QCheckBox(QStringLiteral("Auto &Scroll Monitor"), fraSystem);
    auto* chkWindowsstart = new QCheckBox(QStringLiteral("&Load At Login"), fraSystem);
    auto* system = new QGridLayout(fraSystem);
    system->addWidget(chkAlwaystop, 0, 0);
    system->addWidget(chkMinimize, 1, 0);
    system->addWidget(chkIcontray, 2, 0);
    system->addWidget(m_chkHotkeys, 0, 1);
    system->addWidget(chkAutoscroll, 1, 1);
    system->addWidget(chkWindowsstart, 2, 1);

    auto* fraAttacked = new QGroupBox(QStringLiteral("When Attacked"), this);
    auto* chkFlashicon = new QCheckBox(QStringLiteral("&Flash Icon"), fraAttacked);
    auto* chkDesktopbackground = new QCheckBox(QStringLiteral("Change &Desktop Background"), fraAttacked);
    auto* chkAttackrun = new QCheckBox(QStringLiteral("&Run"), fraAttacked);
    auto* chkClipboard = new QCheckBox(QStringLiteral("Copy Address To &Clipboard"), fraAttacked);
    QLineEdit* txtAttackrun = nullptr;
    QPushButton* cmdBrowse1 = nullptr;
    auto* attacked = new QGridLayout(fraAttacked);
    attacked->addWidget(chkFlashicon, 0, 0);
    attacked->addWidget(chkDesktopbackground, 0, 1);
    attacked->addWidget(chkAttackrun, 1, 0);
    attacked->addWidget(chkClipboard, 1, 1);
    attacked->addLayout(browseRow(txtAttackrun, cmdBrowse1, 1, QStringLiteral("txtAttackrun")), 2, 0, 1, 2);

    body()->addWidget(fraSystem);
    body()->addWidget(fraAttacked);

    new OptionBindings(options,
        {
            { chkAlwaystop, Kind::Check, int(Check::AlwaysTop) },
            { chkMinimize, Kind::Check, int(Check::Minimize) },
            { chkIcontray, Kind::Check, int(Check::IconTray) },
            { m_chkHotkeys, Kind::Check, int(Check::Hotkeys) },
            { chkAutoscroll, Kind::Check, int(Check::AutoScroll) },
            { chkWindowsstart, Kind::Check, int(Check::WindowsStart) },
            { chkFlashicon, Kind::Check, int(Check::FlashIcon) },
            { chkDesktopbackground, Kind::Check, int(Check::DesktopBackground) },
            { chkAttackrun, Kind::Check, int(Check::AttackRun) },
            { chkClipboard, Kind::Check, int(Check::Clipboard) },
            { txtAttackrun, Kind::Text, int(OptionsModel::Text::AttackRun) },
            { txtAttackrun, Kind::Enabled, int(Control::AttackRunText) },
            { cmdBrowse1, Kind::Enabled, int(Control::AttackRunBrowse) },
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
    if (watched == m_chkHotkeys && event->type() == QEvent::MouseButtonPress
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
