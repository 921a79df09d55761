#include "AdvancePage.h"

#include "OptionBindings.h"
#include "OptionsCommands.h"
#include "OptionsModel.h"
#include "PortEntry.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QGroupBox>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

using namespace OptionBindings;

AdvancePage::AdvancePage(
    const QString& title, OptionsModel& options, OptionsCommands& commands, QWidget* parent)
    : OptionsPage(title, options, commands, parent)
{
    auto* portsGroup = new QGroupBox(QStringLiteral("Ports List"), this);
    m_portList = new QListWidget(portsGroup);
    m_portList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    auto* addButton = new QPushButton(QStringLiteral("&Add Port"), portsGroup);
    auto* removeButton = new QPushButton(QStringLiteral("&Remove Port"), portsGroup);
    m_portError = problemLabel(portsGroup, QStringLiteral("portError"));
    connect(addButton, &QPushButton::clicked, this,
        [this, &commands] { showProblem(m_portError, commands.addPort()); });
    connect(removeButton, &QPushButton::clicked, this, [this, &commands] {
        commands.removePorts(selectedPortRows());
        showProblem(m_portError, {});
    });

    auto* chatGroup = new QGroupBox(QStringLiteral("DDE Link"), portsGroup);
    auto* chatOnBox = flagBox(QStringLiteral("&Enable"), &Settings::chatOn, chatGroup);
    auto* chatServiceEdit = new QLineEdit(chatGroup);
    chatServiceEdit->setObjectName(QStringLiteral("chatServiceEdit"));
    chatServiceEdit->setToolTip(
        QStringLiteral("The chat client to send the intruder to: \"HexChat\", \"WeeChat\", or "
                       "\"fifo:PATH\" for a named pipe at PATH; any other name tries HexChat, "
                       "then WeeChat."));
    auto* chat = new QVBoxLayout(chatGroup);
    chat->addWidget(chatOnBox);
    chat->addWidget(new QLabel(QStringLiteral("Service Name:"), chatGroup));
    chat->addWidget(chatServiceEdit);

    m_unguardedNote = new QLabel(portsGroup);
    m_unguardedNote->setObjectName(QStringLiteral("unguardedNote"));
    m_unguardedNote->setWordWrap(true);
    m_unguardedNote->hide();

    auto* sentinelBox = flagBox(QStringLiteral("Enable RPS &Technology"), &Settings::rps, portsGroup);

    auto* buttons = new QVBoxLayout;
    buttons->addWidget(addButton);
    buttons->addWidget(removeButton);
    buttons->addWidget(chatGroup);
    buttons->addStretch(1);
    auto* ports = new QGridLayout(portsGroup);
    ports->addWidget(m_portList, 0, 0);
    ports->addLayout(buttons, 0, 1);
    ports->addWidget(m_portError, 1, 0, 1, 2);
    ports->addWidget(m_unguardedNote, 2, 0, 1, 2);
    ports->addWidget(sentinelBox, 3, 0, 1, 2);
    body()->addWidget(portsGroup);

    bindValue(options, m_portList, member(options, &Settings::ports));
    bindValue(options, chatServiceEdit, member(options, &Settings::chatService));
    bindEnabled(options, chatServiceEdit, enabledAs(options, OptionsModel::Control::ChatServiceText));
    // After the list's own binding, so that the list is filled when this runs.
    connect(&options, &OptionsModel::reloaded, this, [this] {
        m_shownCount = int(this->options().ports().size());
        showProblem(m_portError, {});
    });
    connect(&options, &OptionsModel::changed, this, &AdvancePage::showPorts);
    m_shownCount = int(options.ports().size());
    showPorts();
}

void AdvancePage::showPorts()
{
    const QStringList& entries = options().ports();
    if (entries.size() > m_shownCount)
        m_portList->scrollToBottom(); // a port just added is seen at once
    m_shownCount = int(entries.size());
    QStringList unguarded;
    for (const QString& entry : entries)
        if (!isGuardablePort(entry))
            unguarded << entry;
    m_unguardedNote->setText(unguarded.isEmpty()
            ? QString()
            : QStringLiteral("Not guarded, outside 1-65535: ") + unguarded.join(QStringLiteral(", ")));
    m_unguardedNote->setVisible(!unguarded.isEmpty());
}

QList<int> AdvancePage::selectedPortRows() const
{
    QList<int> rows;
    for (const QModelIndex& index : m_portList->selectionModel()->selectedRows())
        rows << index.row();
    return rows;
}
