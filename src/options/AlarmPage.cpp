#include "AlarmPage.h"

#include "AlarmOptions.h"

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

#include <functional>

namespace {
// One control bound to one value of the working copy: it shows the value now and after every
// change, and the user's edits go in.
template <typename Value> using Field = std::function<Value&()>;

void bind(AlarmOptions& o, QCheckBox* box, Field<bool> field)
{
    box->setChecked(field());
    QObject::connect(box, &QCheckBox::toggled, &o, [field](bool on) { field() = on; });
    QObject::connect(&o, &AlarmOptions::changed, box, [box, field] { box->setChecked(field()); });
}
void bind(AlarmOptions& o, QSpinBox* box, Field<int> field)
{
    box->setValue(field());
    QObject::connect(box, &QSpinBox::valueChanged, &o, [field](int value) { field() = value; });
    QObject::connect(&o, &AlarmOptions::changed, box, [box, field] { box->setValue(field()); });
}
void bind(AlarmOptions& o, QLineEdit* box, Field<QString> field)
{
    box->setText(field());
    QObject::connect(box, &QLineEdit::textEdited, &o, [field](const QString& text) { field() = text; });
    QObject::connect(&o, &AlarmOptions::changed, box, [box, field] {
        if (box->text() != field())
            box->setText(field());
    });
}
void bind(AlarmOptions& o, QComboBox* box, Field<QString> field)
{
    box->setCurrentText(field());
    QObject::connect(
        box, &QComboBox::currentTextChanged, &o, [field](const QString& text) { field() = text; });
    QObject::connect(&o, &AlarmOptions::changed, box, [box, field] { box->setCurrentText(field()); });
}

QSpinBox* spin(QWidget* parent, int minimum, int maximum, const QString& suffix)
{
    auto* box = new QSpinBox(parent);
    box->setRange(minimum, maximum);
    box->setSuffix(suffix);
    return box;
}
} // namespace

AlarmPage::AlarmPage(const QString& title, OptionsModel& options, OptionsCommands& commands,
    AlarmOptions& alarm, QWidget* parent)
    : OptionsPage(title, options, commands, parent)
    , m_alarm(alarm)
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
    m_allowError = new QLabel(allowGroup);
    m_allowError->setObjectName(QStringLiteral("allowError"));
    m_allowError->setWordWrap(true);
    m_allowError->hide();
    connect(addButton, &QPushButton::clicked, this, &AlarmPage::addAllowEntry);
    connect(removeButton, &QPushButton::clicked, this, [this] {
        QList<int> rows;
        for (const QModelIndex& index : m_allowList->selectionModel()->selectedRows())
            rows << index.row();
        m_alarm.removeAllowEntries(rows);
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
    auto* protocolBox = new QComboBox(eventsGroup);
    protocolBox->addItems({ QStringLiteral("tcp"), QStringLiteral("udp") });
    auto* events = new QGridLayout(eventsGroup);
    events->addWidget(eventLogBox, 0, 0);
    events->addWidget(logSizeBox, 0, 1);
    events->addWidget(logFilesBox, 0, 2);
    events->addWidget(syslogBox, 0, 3);
    events->addWidget(new QLabel(QStringLiteral("Collector:"), eventsGroup), 1, 0);
    events->addWidget(collectorEdit, 1, 1, 1, 2);
    events->addWidget(protocolBox, 1, 3);

    body()->addWidget(incidentsGroup);
    body()->addWidget(allowGroup);
    body()->addWidget(eventsGroup);

    AlarmOptions& o = alarm;
    bind(o, oneAlarmBox, [&o]() -> bool& { return o.alarm().oneAlarmPerScan; });
    bind(o, scanGapBox, [&o]() -> int& { return o.alarm().scanGapSeconds; });
    bind(o, notifyBox, [&o]() -> bool& { return o.alarm().notifications; });
    bind(o, eventLogBox, [&o]() -> bool& { return o.events().eventLog; });
    bind(o, logSizeBox, [&o]() -> int& { return o.events().eventLogSizeMb; });
    bind(o, logFilesBox, [&o]() -> int& { return o.events().eventLogFiles; });
    bind(o, syslogBox, [&o]() -> bool& { return o.events().syslog; });
    bind(o, collectorEdit, [&o]() -> QString& { return o.events().collector; });
    bind(o, protocolBox, [&o]() -> QString& { return o.events().collectorProtocol; });
    connect(&o, &AlarmOptions::changed, this, &AlarmPage::showAllowList);
    showAllowList();
}

void AlarmPage::addAllowEntry()
{
    const QString entry = m_ask();
    if (entry.trimmed().isEmpty())
        return;
    m_allowError->setText(m_alarm.addAllowEntry(entry));
    m_allowError->setVisible(!m_allowError->text().isEmpty());
}

void AlarmPage::showAllowList()
{
    m_allowError->clear();
    m_allowError->hide();
    m_allowList->clear();
    m_allowList->addItems(m_alarm.allowEntries());
}
