#include "SourceDetails.h"

#include "HistoryTableModel.h"
#include "IntruderBlocker.h"
#include "LogEntries.h"
#include "ReverseNames.h"
#include "SourceActions.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QFile>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QThread>
#include <QVBoxLayout>

namespace {
QString localTime(qint64 ms)
{
    return ms > 0 ? QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QString();
}

QLabel* selectable(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

QTableWidget* incidentTable(const QList<HistoryIncident>& incidents, QWidget* parent)
{
    const int rows = int(std::min<qsizetype>(incidents.size(), SourceDetails::MaxListed));
    auto* table = new QTableWidget(rows, 5, parent);
    table->setHorizontalHeaderLabels({ QStringLiteral("Time"), QStringLiteral("Ports"), QStringLiteral("Kinds"),
        QStringLiteral("Count"), QStringLiteral("State") });
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->verticalHeader()->hide();
    const int line = table->fontMetrics().height();
    table->verticalHeader()->setDefaultSectionSize(line + line / 3);
    table->horizontalHeader()->setStretchLastSection(true);
    for (int row = 0; row < rows; ++row) {
        const HistoryIncident& incident = incidents[row];
        const QStringList cells { localTime(incident.first), incident.ports, HistoryTableModel::kindsText(incident.kinds),
            QString::number(incident.count), HistoryTableModel::stateText(incident.state) };
        for (int column = 0; column < cells.size(); ++column)
            table->setItem(row, column, new QTableWidgetItem(cells[column]));
    }
    table->resizeColumnsToContents();
    return table;
}
} // namespace

SourceDetails::SourceDetails(
    const HistorySourceSummary& summary, SourceActions& actions, ReverseNames& names, QWidget* parent)
    : QDialog(parent)
    , m_summary(summary)
    , m_address(IpAddress::parse(summary.addressText).value_or(IpAddress()))
    , m_actions(actions)
    , m_name(selectable(QString(), this))
    , m_lookUp(new QPushButton(QStringLiteral("&Look up"), this))
    , m_allowOn(new QComboBox(this))
    , m_unblock(new QPushButton(QStringLiteral("&Unblock"), this))
    , m_said(new QLabel(this))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Source ") + summary.addressText);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Address:"), selectable(summary.addressText, this));
    auto* nameRow = new QHBoxLayout;
    nameRow->addWidget(m_name, 1);
    nameRow->addWidget(m_lookUp);
    form->addRow(QStringLiteral("Name:"), nameRow);
    form->addRow(QStringLiteral("Country:"), selectable(summary.country.isEmpty() ? QStringLiteral("unknown") : summary.country, this));
    HistoryIncident owner;
    owner.asn = summary.asn;
    owner.owner = summary.owner;
    const QString ownerText = HistoryTableModel::ownerText(owner);
    form->addRow(QStringLiteral("Network owner:"), selectable(ownerText.isEmpty() ? QStringLiteral("unknown") : ownerText, this));
    form->addRow(QStringLiteral("First seen:"), selectable(localTime(summary.first), this));
    form->addRow(QStringLiteral("Last seen:"), selectable(localTime(summary.last), this));
    form->addRow(QStringLiteral("Probes:"),
        selectable(QStringLiteral("%1 in %2 incidents").arg(summary.count).arg(summary.incidentCount), this));
    form->addRow(QStringLiteral("Kinds:"), selectable(HistoryTableModel::kindsText(summary.kinds), this));
    QStringList ports;
    for (int port : summary.ports)
        ports << QString::number(port);
    auto* portsLabel = selectable(ports.join(QLatin1String(", ")), this);
    portsLabel->setWordWrap(true);
    form->addRow(QStringLiteral("Ports:"), portsLabel);

    m_allowOn->addItem(QStringLiteral("every port"), 0);
    for (int port : summary.ports)
        m_allowOn->addItem(QStringLiteral("port %1").arg(port), port);
    auto* allowOnLabel = new QLabel(QStringLiteral("Allow o&n:"), this);
    allowOnLabel->setBuddy(m_allowOn);
    auto* copy = new QPushButton(QStringLiteral("&Copy address"), this);
    auto* allowButton = new QPushButton(QStringLiteral("&Allow"), this);
    auto* blockHour = new QPushButton(QStringLiteral("Block &1 hour"), this);
    auto* blockDay = new QPushButton(QStringLiteral("Block &24 hours"), this);
    auto* log = new QPushButton(QStringLiteral("Log &entries"), this);
    auto* actionsRow = new QHBoxLayout;
    actionsRow->addWidget(copy);
    actionsRow->addSpacing(fontMetrics().height());
    actionsRow->addWidget(allowOnLabel);
    actionsRow->addWidget(m_allowOn);
    actionsRow->addWidget(allowButton);
    actionsRow->addSpacing(fontMetrics().height());
    actionsRow->addWidget(blockHour);
    actionsRow->addWidget(blockDay);
    actionsRow->addWidget(m_unblock);
    actionsRow->addStretch(1);
    actionsRow->addWidget(log);
    for (QPushButton* button : { copy, allowButton, blockHour, blockDay, m_unblock, log, m_lookUp })
        button->setAutoDefault(false);

    auto* close = new QDialogButtonBox(QDialogButtonBox::Close, this);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(incidentTable(summary.incidents, this), 1);
    layout->addLayout(actionsRow);
    m_said->setWordWrap(true);
    layout->addWidget(m_said);
    layout->addWidget(close);

    connect(close, &QDialogButtonBox::rejected, this, &QDialog::close);
    connect(copy, &QPushButton::clicked, this, [this] {
        QGuiApplication::clipboard()->setText(m_summary.addressText);
        say(QStringLiteral("Copied %1.").arg(m_summary.addressText));
    });
    connect(allowButton, &QPushButton::clicked, this, &SourceDetails::allow);
    connect(blockHour, &QPushButton::clicked, this, [this] { block(60 * 60); });
    connect(blockDay, &QPushButton::clicked, this, [this] { block(24 * 60 * 60); });
    connect(m_unblock, &QPushButton::clicked, this, [this] { m_actions.unblock(m_address); });
    connect(log, &QPushButton::clicked, this, &SourceDetails::openLogEntries);
    connect(&m_actions.blocker(), &IntruderBlocker::changed, this, &SourceDetails::showBlockState);
    connect(&names, &ReverseNames::nameFound, this, [this](const IpAddress& address, const QString& name) {
        if (address == m_address)
            m_name->setText(name.isEmpty() ? QStringLiteral("none") : name);
    });
    connect(m_lookUp, &QPushButton::clicked, this, [this, &names] { showName(names, true); });
    showName(names, false);
    showBlockState();
    const int line = fontMetrics().height();
    resize(52 * line, 34 * line);
}

void SourceDetails::showName(ReverseNames& names, bool explicitly)
{
    m_lookUp->hide();
    switch (names.lookUp(m_address, ReverseNames::originOf(m_summary.kinds),
        explicitly ? ReverseNames::Ask::Explicitly : ReverseNames::Ask::Automatically)) {
    case ReverseNames::Answer::Known: {
        const QString name = names.name(m_address).value_or(QString());
        m_name->setText(name.isEmpty() ? QStringLiteral("none") : name);
        break;
    }
    case ReverseNames::Answer::Pending:
        m_name->setText(QStringLiteral("looking up…"));
        break;
    case ReverseNames::Answer::Off:
        m_name->setText(QStringLiteral("not looked up (Reverse DNS is off)"));
        break;
    case ReverseNames::Answer::Refused:
        // Asking would tell the owner of an address the attacker may have chosen that we saw it.
        m_name->setText(QStringLiteral("not looked up: every probe from it could have been forged"));
        m_lookUp->show();
        break;
    }
}

void SourceDetails::allow()
{
    const int port = m_allowOn->currentData().toInt();
    const QString where = port == 0 ? QStringLiteral("on every port") : QStringLiteral("on port %1").arg(port);
    switch (m_actions.allow(m_address, port)) {
    case SourceActions::Allowed::Added:
        say(QStringLiteral("%1 is allowed %2.").arg(m_summary.addressText, where));
        emit changed();
        break;
    case SourceActions::Allowed::AlreadyAllowed:
        say(QStringLiteral("%1 was allowed %2 already.").arg(m_summary.addressText, where));
        break;
    case SourceActions::Allowed::OptionsOpen:
        say(QStringLiteral("Close Options first: the allow list is being edited there."));
        break;
    }
}

void SourceDetails::block(int seconds)
{
    // The blocker says in the status list why it refuses an address (this machine, the gateway).
    if (!m_actions.block(m_address, seconds))
        say(QStringLiteral("%1 cannot be blocked: see the monitor window's status list.").arg(m_summary.addressText));
}

void SourceDetails::showBlockState()
{
    m_unblock->setEnabled(m_actions.isBlocked(m_address));
}

void SourceDetails::say(const QString& text)
{
    m_said->setText(text);
}

void SourceDetails::openLogEntries()
{
    auto* view = new QDialog(this);
    view->setAttribute(Qt::WA_DeleteOnClose);
    view->setWindowTitle(QStringLiteral("Log.txt: ") + m_summary.addressText);
    auto* text = new QPlainTextEdit(view);
    text->setReadOnly(true);
    text->setLineWrapMode(QPlainTextEdit::NoWrap);
    text->setPlainText(QStringLiteral("Reading Log.txt…"));
    auto* layout = new QVBoxLayout(view);
    layout->addWidget(text);
    const int line = fontMetrics().height();
    view->resize(40 * line, 24 * line);
    view->show();

    // A log of years may be large: it is read on a thread of its own.
    auto entries = std::make_shared<QStringList>();
    auto readable = std::make_shared<bool>(false);
    QThread* reader = QThread::create([path = m_actions.logPath(), address = m_summary.addressText, entries, readable] {
        QFile log(path);
        if ((*readable = log.open(QIODevice::ReadOnly)))
            *entries = LogEntries::matching(log, address);
    });
    QPointer<QPlainTextEdit> shown(text);
    connect(reader, &QThread::finished, reader, [reader, shown, entries, readable, address = m_summary.addressText] {
        reader->deleteLater();
        if (!shown)
            return;
        if (!*readable)
            shown->setPlainText(QStringLiteral("Log.txt cannot be read."));
        else if (entries->isEmpty())
            shown->setPlainText(QStringLiteral("Log.txt has no entry for %1.").arg(address));
        else
            shown->setPlainText(entries->join(QLatin1String("\n\n")));
    });
    reader->start();
}
