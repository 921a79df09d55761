#include "AdvancePage.h"

#include "OptionBindings.h"
#include "OptionsCommands.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QGroupBox>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

using Kind = OptionBindings::Kind;
using Check = OptionsModel::Check;

AdvancePage::AdvancePage(const QString& title, OptionsModel& options, OptionsCommands& commands, QWidget* parent)
    : OptionsPage(title, options, commands, parent)
{
    auto* fraPorts = new QGroupBox(QStringLiteral("Ports List"), this);
    m_lslPorts = new QListWidget(fraPorts);
    m_lslPorts->setSelectionMode(QAbstractItemView::ExtendedSelection);
    auto* cmdAdd = new QPushButton(QStringLiteral("&Add Port"), fraPorts);
    auto* cmdRemove = new QPushButton(QStringLiteral("&Remove Port"), fraPorts);
    connect(cmdAdd, &QPushButton::clicked, this, [&commands] { commands.addPort(); });
    connect(cmdRemove, &QPushButton::clicked, this, [this, &commands] { commands.removePorts(selectedPortRows()); });

    auto* fraDde = new QGroupBox(QStringLiteral("DDE Link"), fraPorts);
    auto* chkDdeon = new QCheckBox(QStringLiteral("&Enable"), fraDde);
    auto* txtDde = new QLineEdit(fraDde);
    txtDde->setObjectName(QStringLiteral("txtDde"));
    txtDde->setToolTip(QStringLiteral("The chat client to send the intruder to: \"HexChat\", \"WeeChat\", or "
                                      "\"fifo:PATH\" for a named pipe at PATH; any other name tries HexChat, "
                                      "then WeeChat."));
    auto* dde = new QVBoxLayout(fraDde);
    dde->addWidget(chkDdeon);
    dde->addWidget(new QLabel(QStringLiteral("Service Name:"), fraDde));
    dde->addWidget(txtDde);

    auto* chkRps = new QCheckBox(QStringLiteral("Enable RPS &Technology"), fraPorts);

    auto* buttons = new QVBoxLayout;
    buttons->addWidget(cmdAdd);
    buttons->addWidget(cmdRemove);
    buttons->addWidget(fraDde);
    buttons->addStretch(1);
    auto* ports = new QGridLayout(fraPorts);
    ports->addWidget(m_lslPorts, 0, 0);
    ports->addLayout(buttons, 0, 1);
    ports->addWidget(chkRps, 1, 0, 1, 2);
    body()->addWidget(fraPorts);

    new OptionBindings(options,
        {
            { m_lslPorts, Kind::Ports },
            { chkDdeon, Kind::Check, int(Check::DdeOn) },
            { txtDde, Kind::Text, int(OptionsModel::Text::DdeService) },
            { txtDde, Kind::Enabled, int(OptionsModel::Control::DdeText) },
            { chkRps, Kind::Check, int(Check::Rps) },
        },
        this);
}

QList<int> AdvancePage::selectedPortRows() const
{
    QList<int> rows;
    for (const QModelIndex& index : m_lslPorts->selectionModel()->selectedRows())
        rows << index.row();
    return rows;
}
