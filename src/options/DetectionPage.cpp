#include "DetectionPage.h"

#include "FieldChecks.h"
#include "OptionBindings.h"
#include "OptionsModel.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QGroupBox>
#include <QInputDialog>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>

DetectionPage::DetectionPage(
    const QString& title, OptionsModel& options, OptionsCommands& commands, QWidget* parent)
    : OptionsPage(title, options, commands, parent)
    , m_ask([this] {
        bool ok = false;
        const QString text = QInputDialog::getText(this, QStringLiteral("Add UDP Port"),
            QStringLiteral("Please Enter Port Number.."), QLineEdit::Normal, QStringLiteral("0000"), &ok);
        return ok ? text : QString();
    })
{
    auto* probesGroup = new QGroupBox(QStringLiteral("Scans Without A Connection"), this);
    auto* halfOpenBox = new QCheckBox(QStringLiteral("&Half-open (SYN) probes"), probesGroup);
    auto* flagsBox = new QCheckBox(QStringLiteral("&FIN, NULL and Xmas probes"), probesGroup);
    auto* portScanBox = new QCheckBox(QStringLiteral("Port &scans of any port"), probesGroup);
    portScanBox->setToolTip(QStringLiteral("One alarm when a source touches this many ports, guarded or "
                                           "not, within the window"));
    auto* scanPortsBox = new QSpinBox(probesGroup);
    scanPortsBox->setObjectName(QStringLiteral("scanPortsBox"));
    scanPortsBox->setRange(2, 65535);
    scanPortsBox->setSuffix(QStringLiteral(" ports"));
    auto* scanWindowBox = new QSpinBox(probesGroup);
    scanWindowBox->setObjectName(QStringLiteral("scanWindowBox"));
    scanWindowBox->setRange(1, 3600);
    scanWindowBox->setSuffix(QStringLiteral(" s"));
    auto* probes = new QGridLayout(probesGroup);
    probes->addWidget(halfOpenBox, 0, 0);
    probes->addWidget(flagsBox, 0, 1, 1, 2);
    probes->addWidget(portScanBox, 1, 0);
    probes->addWidget(scanPortsBox, 1, 1);
    probes->addWidget(new QLabel(QStringLiteral("within"), probesGroup), 1, 2, Qt::AlignRight);
    probes->addWidget(scanWindowBox, 1, 3);

    auto* udpGroup = new QGroupBox(QStringLiteral("UDP Ports List"), this);
    m_udpList = new QListWidget(udpGroup);
    m_udpList->setObjectName(QStringLiteral("udpPortList"));
    m_udpList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    auto* addButton = new QPushButton(QStringLiteral("Add &UDP Port"), udpGroup);
    auto* removeButton = new QPushButton(QStringLiteral("Remo&ve UDP Port"), udpGroup);
    auto* udpError = problemLabel(udpGroup, QStringLiteral("udpPortError"));
    connect(addButton, &QPushButton::clicked, this, [this, udpError] {
        const auto add = FieldChecks::addPort(m_ask(), this->options().values().detection.udpPorts);
        if (!add.entry.isEmpty())
            this->options().append(OptionsModel::List::UdpPorts, add.entry);
        showProblem(udpError, add.problem);
    });
    connect(removeButton, &QPushButton::clicked, this, [this, udpError] {
        QList<int> rows;
        for (const QModelIndex& index : m_udpList->selectionModel()->selectedRows())
            rows << index.row();
        this->options().remove(OptionsModel::List::UdpPorts, rows);
        showProblem(udpError, {});
    });
    connect(&options, &OptionsModel::reloaded, udpError, [udpError] { showProblem(udpError, {}); });
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(addButton);
    buttons->addWidget(removeButton);
    buttons->addStretch(1);
    auto* udp = new QGridLayout(udpGroup);
    udp->addWidget(m_udpList, 0, 0);
    udp->addLayout(buttons, 0, 1);
    udp->addWidget(udpError, 1, 0, 1, 2);

    body()->addWidget(probesGroup);
    body()->addWidget(udpGroup);

    using OptionBindings::bindValue;
    OptionsModel& o = options;
    bindValue(o, halfOpenBox, [&o]() -> bool& { return o.edit().detection.halfOpen; });
    bindValue(o, flagsBox, [&o]() -> bool& { return o.edit().detection.stealthFlags; });
    bindValue(o, portScanBox, [&o]() -> bool& { return o.edit().detection.portScan; });
    bindValue(o, scanPortsBox, [&o]() -> int& { return o.edit().detection.scanPorts; });
    bindValue(o, scanWindowBox, [&o]() -> int& { return o.edit().detection.scanWindowSeconds; });
    bindValue(o, m_udpList, [&o]() -> QStringList& { return o.edit().detection.udpPorts; });
}
