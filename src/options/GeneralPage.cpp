#include "GeneralPage.h"

#include "OptionBindings.h"
#include "OptionsCommands.h"
#include "OptionsModel.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

using namespace OptionBindings;
using Control = OptionsModel::Control;

GeneralPage::GeneralPage(
    const QString& title, OptionsModel& options, OptionsCommands& commands, QWidget* parent)
    : OptionsPage(title, options, commands, parent)
{
    auto* startupGroup = new QGroupBox(QStringLiteral("On Startup"), this);
    auto* hideMonitorBox = flagBox(QStringLiteral("&Hide Monitor"), &Settings::hideMonitor, startupGroup);
    auto* startMonitoringBox
        = flagBox(QStringLiteral("&Start Monitoring"), &Settings::startMonitoring, startupGroup);
    auto* runBox = flagBox(QStringLiteral("&Run"), &Settings::run, startupGroup);
    QLineEdit* runFileEdit = nullptr;
    QPushButton* runFileBrowse = nullptr;
    auto* startup = new QVBoxLayout(startupGroup);
    startup->addWidget(hideMonitorBox);
    startup->addWidget(startMonitoringBox);
    startup->addWidget(runBox);
    startup->addLayout(browseRow(runFileEdit, runFileBrowse, 0, QStringLiteral("runFileEdit")));

    auto* logsGroup = new QGroupBox(QStringLiteral("Logs"), this);
    auto* logsOn = new QRadioButton(QStringLiteral("O&n"), logsGroup);
    auto* logsOff = new QRadioButton(QStringLiteral("O&ff"), logsGroup);
    auto* readLogButton = new QPushButton(QStringLiteral("&Read"), logsGroup);
    auto* purgeLogButton = new QPushButton(QStringLiteral("&Purge"), logsGroup);
    auto* logs = new QGridLayout(logsGroup);
    logs->addWidget(logsOn, 0, 0);
    logs->addWidget(logsOff, 0, 1);
    logs->addWidget(readLogButton, 1, 0);
    logs->addWidget(purgeLogButton, 1, 1);
    readLogButton->setObjectName(QStringLiteral("readLogButton"));
    purgeLogButton->setObjectName(QStringLiteral("purgeLogButton"));
    connect(readLogButton, &QPushButton::clicked, this, [&commands] { commands.readLog(); });
    connect(purgeLogButton, &QPushButton::clicked, this, [&commands] { commands.purgeLog(); });

    body()->addWidget(startupGroup);
    body()->addWidget(logsGroup);

    bindValue(options, runFileEdit, member(options, &Settings::runFile));
    bindEnabled(options, runFileEdit, enabledAs(options, Control::StartRunText));
    bindEnabled(options, runFileBrowse, enabledAs(options, Control::StartRunBrowse));
    bindValue(options, logsOn, logsOff, member(options, &Settings::logs));
    bindEnabled(options, readLogButton, enabledAs(options, Control::LogsRead));
    bindEnabled(options, purgeLogButton, enabledAs(options, Control::LogsPurge));
}
