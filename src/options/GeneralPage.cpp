#include "GeneralPage.h"

#include "OptionBindings.h"
#include "OptionsCommands.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

using Kind = OptionBindings::Kind;
using Check = OptionsModel::Check;
using Control = OptionsModel::Control;

GeneralPage::GeneralPage(const QString& title, OptionsModel& options, OptionsCommands& commands, QWidget* parent)
    : OptionsPage(title, options, commands, parent)
{
    auto* fraStartup = new QGroupBox(QStringLiteral("On Startup"), this);
    auto* chkHidemonitor = new QCheckBox(QStringLiteral("&Hide Monitor"), fraStartup);
    auto* chkAutostart = new QCheckBox(QStringLiteral("&Start Monitoring"), fraStartup);
    auto* chkStartrun = new QCheckBox(QStringLiteral("&Run"), fraStartup);
    QLineEdit* txtStartrun = nullptr;
    QPushButton* cmdBrowse0 = nullptr;
    auto* startup = new QVBoxLayout(fraStartup);
    startup->addWidget(chkHidemonitor);
    startup->addWidget(chkAutostart);
    startup->addWidget(chkStartrun);
    startup->addLayout(browseRow(txtStartrun, cmdBrowse0, 0, QStringLiteral("txtStartrun")));

    auto* fraLogs = new QGroupBox(QStringLiteral("Logs"), this);
    auto* optLogson = new QRadioButton(QStringLiteral("O&n"), fraLogs);
    auto* optLogsoff = new QRadioButton(QStringLiteral("O&ff"), fraLogs);
    auto* cmdLogsread = new QPushButton(QStringLiteral("&Read"), fraLogs);
    auto* cmdLogspurge = new QPushButton(QStringLiteral("&Purge"), fraLogs);
    auto* logs = new QGridLayout(fraLogs);
    logs->addWidget(optLogson, 0, 0);
    logs->addWidget(optLogsoff, 0, 1);
    logs->addWidget(cmdLogsread, 1, 0);
    logs->addWidget(cmdLogspurge, 1, 1);
    cmdLogsread->setObjectName(QStringLiteral("cmdLogsread"));
    cmdLogspurge->setObjectName(QStringLiteral("cmdLogspurge"));
    connect(cmdLogsread, &QPushButton::clicked, this, [&commands] { commands.readLog(); });
    connect(cmdLogspurge, &QPushButton::clicked, this, [&commands] { commands.purgeLog(); });

    body()->addWidget(fraStartup);
    body()->addWidget(fraLogs);

    new OptionBindings(options,
        {
            { chkHidemonitor, Kind::Check, int(Check::HideMonitor) },
            { chkAutostart, Kind::Check, int(Check::AutoStart) },
            { chkStartrun, Kind::Check, int(Check::StartRun) },
            { txtStartrun, Kind::Text, int(OptionsModel::Text::StartRun) },
            { txtStartrun, Kind::Enabled, int(Control::StartRunText) },
            { cmdBrowse0, Kind::Enabled, int(Control::StartRunBrowse) },
            { optLogson, Kind::OnOff, int(OptionsModel::Choice::Logs), optLogsoff },
            { cmdLogsread, Kind::Enabled, int(Control::LogsRead) },
            { cmdLogspurge, Kind::Enabled, int(Control::LogsPurge) },
        },
        this);
}
