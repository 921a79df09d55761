#include "AlarmPage.h"

#include "FieldChecks.h"
#include "OptionBindings.h"
#include "OptionsModel.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QInputDialog>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>

namespace {
QSpinBox* spin(QWidget* parent, int minimum, int maximum, const QString& suffix)
{
    auto* box = new QSpinBox(parent);
    box->setRange(minimum, maximum);
    box->setSuffix(suffix);
    return box;
}
} // namespace

AlarmPage::AlarmPage(const QString& title, OptionsModel& options, OptionsCommands& commands, QWidget* parent)
    : OptionsPage(title, options, commands, parent)
    , m_ask([this] {
        return QInputDialog::getText(this, QStringLiteral("Add Address"),
            QStringLiteral("An address or range, e.g. 192.168.1.10, 10.0.0.0/8 or fd00::/8:"));
    })
{
    auto* incidentsGroup = new QGroupBox(QStringLiteral("Incidents"), this);
    auto* oneAlarmBox = new QCheckBox(QStringLiteral("&One alarm per scan"), incidentsGroup);
    oneAlarmBox->setToolTip(
        QStringLiteral("Sound, wallpaper, attack program, clipboard and chat command once per "
                       "incident instead of once per connection"));
    auto* scanGapBox = spin(incidentsGroup, 1, 86400, QStringLiteral(" s"));
    scanGapBox->setObjectName(QStringLiteral("scanGapBox"));
    auto* notifyBox = new QCheckBox(QStringLiteral("Desktop &notifications"), incidentsGroup);
    auto* incidents = new QGridLayout(incidentsGroup);
    incidents->addWidget(oneAlarmBox, 0, 0);
    incidents->addWidget(new QLabel(QStringLiteral("Scan gap:"), incidentsGroup), 0, 1, Qt::AlignRight);
    incidents->addWidget(scanGapBox, 0, 2);
    incidents->addWidget(notifyBox, 1, 0);

    auto* allowGroup = new QGroupBox(QStringLiteral("Allow List"), this);
    m_allowList = new QListWidget(allowGroup);
    m_allowList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    // Short, so the dialog keeps the height the other four pages have always had.
    m_allowList->setFixedHeight(m_allowList->fontMetrics().height() * 3 + 8);
    auto* addButton = new QPushButton(QStringLiteral("A&dd Address"), allowGroup);
    auto* removeButton = new QPushButton(QStringLiteral("Re&move Address"), allowGroup);
    m_allowError = problemLabel(allowGroup, QStringLiteral("allowError"));
    connect(addButton, &QPushButton::clicked, this, &AlarmPage::addAllowEntry);
    connect(removeButton, &QPushButton::clicked, this, [this] {
        QList<int> rows;
        for (const QModelIndex& index : m_allowList->selectionModel()->selectedRows())
            rows << index.row();
        this->options().remove(OptionsModel::List::AllowEntries, rows);
        showProblem(m_allowError, {});
    });
    auto* allow = new QGridLayout(allowGroup);
    allow->addWidget(m_allowList, 0, 0, 2, 1);
    allow->addWidget(addButton, 0, 1);
    allow->addWidget(removeButton, 1, 1);
    allow->addWidget(m_allowError, 2, 0, 1, 2);

    auto* eventsGroup = new QGroupBox(QStringLiteral("Event Outputs"), this);
    auto* eventLogBox = new QCheckBox(QStringLiteral("&Event log"), eventsGroup);
    auto* logSizeBox = spin(eventsGroup, 1, 4096, QStringLiteral(" MB"));
    auto* logFilesBox = spin(eventsGroup, 1, 100, QStringLiteral(" files"));
    auto* syslogBox = new QCheckBox(QStringLiteral("S&ystem log"), eventsGroup);
    auto* collectorEdit = new QLineEdit(eventsGroup);
    collectorEdit->setObjectName(QStringLiteral("collectorEdit"));
    collectorEdit->setPlaceholderText(QStringLiteral("host:port, empty for none"));
    m_collectorEdit = collectorEdit;
    m_collectorError = problemLabel(eventsGroup, QStringLiteral("collectorError"));
    // Checked when the user leaves the box, not at every key: a half-typed address is no fault.
    connect(collectorEdit, &QLineEdit::editingFinished, this, [this] { checkCollector(m_collectorEdit->text()); });
    auto* protocolBox = new QComboBox(eventsGroup);
    for (const char* protocol : Settings::Collector::ProtocolNames)
        protocolBox->addItem(QString::fromLatin1(protocol));
    auto* formatBox = new QComboBox(eventsGroup);
    for (const char* format : Settings::Events::FormatNames)
        formatBox->addItem(QString::fromLatin1(format));
    formatBox->setToolTip(
        QStringLiteral("The records' fields: sentrel, or ecs (Elastic Common Schema) for a SIEM"));
    auto* metricsEdit = new QLineEdit(eventsGroup);
    metricsEdit->setObjectName(QStringLiteral("metricsEdit"));
    metricsEdit->setPlaceholderText(QStringLiteral("metrics file (.prom), empty for none"));
    metricsEdit->setToolTip(QStringLiteral("Counters for node_exporter's textfile collector"));
    auto* events = new QGridLayout(eventsGroup);
    events->addWidget(eventLogBox, 0, 0);
    events->addWidget(logSizeBox, 0, 1);
    events->addWidget(logFilesBox, 0, 2);
    events->addWidget(syslogBox, 0, 3);
    events->addWidget(new QLabel(QStringLiteral("Collector:"), eventsGroup), 1, 0);
    events->addWidget(collectorEdit, 1, 1, 1, 2);
    events->addWidget(protocolBox, 1, 3);
    events->addWidget(m_collectorError, 2, 0, 1, 4);
    events->addWidget(new QLabel(QStringLiteral("Format:"), eventsGroup), 3, 0);
    events->addWidget(formatBox, 3, 1);
    events->addWidget(metricsEdit, 3, 2, 1, 2);

    body()->addWidget(incidentsGroup);
    body()->addWidget(allowGroup);
    body()->addWidget(eventsGroup);

    using OptionBindings::bindValue;
    OptionsModel& o = options;
    bindValue(o, oneAlarmBox, [&o]() -> bool& { return o.edit().alarm.oneAlarmPerScan; });
    bindValue(o, scanGapBox, [&o]() -> int& { return o.edit().alarm.scanGapSeconds; });
    bindValue(o, notifyBox, [&o]() -> bool& { return o.edit().alarm.notifications; });
    bindValue(o, eventLogBox, [&o]() -> bool& { return o.edit().events.eventLog; });
    bindValue(o, logSizeBox, [&o]() -> int& { return o.edit().events.eventLogSizeMb; });
    bindValue(o, logFilesBox, [&o]() -> int& { return o.edit().events.eventLogFiles; });
    bindValue(o, syslogBox, [&o]() -> bool& { return o.edit().events.syslog; });
    bindValue(o, collectorEdit, [&o]() -> QString& { return o.edit().events.collector.text; });
    OptionBindings::bindChoice(
        o, protocolBox, [&o]() -> auto& { return o.edit().events.collector.protocol; });
    OptionBindings::bindChoice(
        o, formatBox, [&o]() -> auto& { return o.edit().events.format; });
    bindValue(o, metricsEdit, [&o]() -> QString& { return o.edit().events.metricsFile; });
    bindValue(o, m_allowList, [&o]() -> QStringList& { return o.edit().alarm.allowEntries; });
    connect(&o, &OptionsModel::reloaded, this, &AlarmPage::reloaded);
    reloaded();
}

void AlarmPage::addAllowEntry()
{
    const QString text = m_ask().trimmed();
    if (text.isEmpty())
        return;
    const QString reason = AllowList::check(text);
    showProblem(m_allowError,
        reason.isEmpty() ? QString() : QLatin1Char('"') + text + QLatin1String("\": ") + reason);
    if (reason.isEmpty() && !options().edit().alarm.allowEntries.contains(text))
        options().append(OptionsModel::List::AllowEntries, text);
}

bool AlarmPage::checkCollector(const QString& collector)
{
    return showProblem(m_collectorError, FieldChecks::collector(collector));
}

QWidget* AlarmPage::refuseFields()
{
    return checkCollector(options().values().events.collector.text) ? m_collectorEdit : nullptr;
}

void AlarmPage::reloaded()
{
    // The box shows the reloaded text only after this.
    checkCollector(options().values().events.collector.text);
    showProblem(m_allowError, {});
}
