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
    auto* fraIncidents = new QGroupBox(QStringLiteral("Incidents"), this);
    auto* chkOneAlarm = new QCheckBox(QStringLiteral("&One alarm per scan"), fraIncidents);
    chkOneAlarm->setToolTip(
        QStringLiteral("Sound, wallpaper, attack program, clipboard and chat command once per "
                       "incident instead of once per connection"));
    auto* spnGap = spin(fraIncidents, 1, 86400, QStringLiteral(" s"));
    spnGap->setObjectName(QStringLiteral("spnGap"));
    auto* chkNotify = new QCheckBox(QStringLiteral("Desktop &notifications"), fraIncidents);
    auto* incidents = new QGridLayout(fraIncidents);
    incidents->addWidget(chkOneAlarm, 0, 0);
    incidents->addWidget(new QLabel(QStringLiteral("Scan gap:"), fraIncidents), 0, 1, Qt::AlignRight);
    incidents->addWidget(spnGap, 0, 2);
    incidents->addWidget(chkNotify, 1, 0);

    auto* fraAllow = new QGroupBox(QStringLiteral("Allow List"), this);
    m_lslAllow = new QListWidget(fraAllow);
    m_lslAllow->setSelectionMode(QAbstractItemView::ExtendedSelection);
    // Short, so the dialog keeps the height the other four pages have always had.
    m_lslAllow->setFixedHeight(m_lslAllow->fontMetrics().height() * 3 + 8);
    auto* cmdAdd = new QPushButton(QStringLiteral("A&dd Address"), fraAllow);
    auto* cmdRemove = new QPushButton(QStringLiteral("Re&move Address"), fraAllow);
    m_lblAllowError = new QLabel(fraAllow);
    m_lblAllowError->setObjectName(QStringLiteral("lblAllowError"));
    m_lblAllowError->setWordWrap(true);
    m_lblAllowError->hide();
    connect(cmdAdd, &QPushButton::clicked, this, &AlarmPage::addAllowEntry);
    connect(cmdRemove, &QPushButton::clicked, this, [this] {
        QList<int> rows;
        for (const QModelIndex& index : m_lslAllow->selectionModel()->selectedRows())
            rows << index.row();
        m_alarm.removeAllowEntries(rows);
    });
    auto* allow = new QGridLayout(fraAllow);
    allow->addWidget(m_lslAllow, 0, 0, 2, 1);
    allow->addWidget(cmdAdd, 0, 1);
    allow->addWidget(cmdRemove, 1, 1);
    allow->addWidget(m_lblAllowError, 2, 0, 1, 2);

    auto* fraEvents = new QGroupBox(QStringLiteral("Event Outputs"), this);
    auto* chkEventLog = new QCheckBox(QStringLiteral("&Event log"), fraEvents);
    auto* spnLogSize = spin(fraEvents, 1, 4096, QStringLiteral(" MB"));
    auto* spnLogFiles = spin(fraEvents, 1, 100, QStringLiteral(" files"));
    auto* chkSyslog = new QCheckBox(QStringLiteral("S&ystem log"), fraEvents);
    auto* txtCollector = new QLineEdit(fraEvents);
    txtCollector->setObjectName(QStringLiteral("txtCollector"));
    txtCollector->setPlaceholderText(QStringLiteral("host:port, empty for none"));
    auto* cboProtocol = new QComboBox(fraEvents);
    cboProtocol->addItems({ QStringLiteral("tcp"), QStringLiteral("udp") });
    auto* events = new QGridLayout(fraEvents);
    events->addWidget(chkEventLog, 0, 0);
    events->addWidget(spnLogSize, 0, 1);
    events->addWidget(spnLogFiles, 0, 2);
    events->addWidget(chkSyslog, 0, 3);
    events->addWidget(new QLabel(QStringLiteral("Collector:"), fraEvents), 1, 0);
    events->addWidget(txtCollector, 1, 1, 1, 2);
    events->addWidget(cboProtocol, 1, 3);

    body()->addWidget(fraIncidents);
    body()->addWidget(fraAllow);
    body()->addWidget(fraEvents);

    AlarmOptions& o = alarm;
    bind(o, chkOneAlarm, [&o]() -> bool& { return o.alarm().oneAlarmPerScan; });
    bind(o, spnGap, [&o]() -> int& { return o.alarm().scanGapSeconds; });
    bind(o, chkNotify, [&o]() -> bool& { return o.alarm().notifications; });
    bind(o, chkEventLog, [&o]() -> bool& { return o.events().eventLog; });
    bind(o, spnLogSize, [&o]() -> int& { return o.events().eventLogSizeMb; });
    bind(o, spnLogFiles, [&o]() -> int& { return o.events().eventLogFiles; });
    bind(o, chkSyslog, [&o]() -> bool& { return o.events().syslog; });
    bind(o, txtCollector, [&o]() -> QString& { return o.events().collector; });
    bind(o, cboProtocol, [&o]() -> QString& { return o.events().collectorProtocol; });
    connect(&o, &AlarmOptions::changed, this, &AlarmPage::showAllowList);
    showAllowList();
}

void AlarmPage::addAllowEntry()
{
    const QString entry = m_ask();
    if (entry.trimmed().isEmpty())
        return;
    m_lblAllowError->setText(m_alarm.addAllowEntry(entry));
    m_lblAllowError->setVisible(!m_lblAllowError->text().isEmpty());
}

void AlarmPage::showAllowList()
{
    m_lblAllowError->clear();
    m_lblAllowError->hide();
    m_lslAllow->clear();
    m_lslAllow->addItems(m_alarm.allowEntries());
}
