#include "HistoryWindow.h"

#include "HistoryExport.h"
#include "HistoryFilterBar.h"
#include "RankingChart.h"
#include "StackedBarChart.h"

#include <QDateTime>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QSplitter>
#include <QSqlDatabase>
#include <QTableView>
#include <QThread>
#include <QTimeZone>
#include <QVBoxLayout>

#include <memory>
#include <utility>

HistoryWindow::HistoryWindow(QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_filter(new HistoryFilterBar(this))
    , m_table(new QTableView(this))
    , m_count(new QLabel(this))
{
    setWindowTitle(QStringLiteral("History"));
    const int line = fontMetrics().height();
    m_table->setModel(&m_model);
    m_table->setSortingEnabled(true);
    m_table->horizontalHeader()->setSortIndicator(HistoryTableModel::Time, Qt::DescendingOrder);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setTabKeyNavigation(false);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->setWordWrap(false);
    m_table->setAccessibleName(QStringLiteral("Incidents"));
    m_table->verticalHeader()->setDefaultSectionSize(line + line / 3);
    // Wide enough for what each column typically holds, in the font shown.
    for (const auto& [column, sample] : { std::pair { HistoryTableModel::Time, "2026-12-31 23:59:59" },
             { HistoryTableModel::Address, "198.51.100.255" }, { HistoryTableModel::Country, "Country" },
             { HistoryTableModel::Owner, "Example Hosting" }, { HistoryTableModel::Ports, "21,23,161/udp" },
             { HistoryTableModel::Kinds, "half_open, udp" }, { HistoryTableModel::Count, "Count" } })
        m_table->setColumnWidth(column, fontMetrics().horizontalAdvance(QString::fromLatin1(sample)) + line);

    auto* charts = new QWidget;
    buildCharts(charts);
    auto* scroll = new QScrollArea(this);
    scroll->setWidget(charts);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setMinimumWidth(charts->minimumSizeHint().width() + scroll->verticalScrollBar()->sizeHint().width() + 4);
    scroll->setMaximumWidth(26 * line);
    auto* split = new QSplitter(this);
    split->addWidget(m_table);
    split->addWidget(scroll);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 0);
    split->setChildrenCollapsible(false);

    auto* csv = new QPushButton(QStringLiteral("Export C&SV…"), this);
    auto* json = new QPushButton(QStringLiteral("Export &JSON…"), this);
    auto* refresh = new QPushButton(QStringLiteral("&Refresh"), this);
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_count, 1);
    for (QPushButton* button : { csv, json, refresh, close })
        bottom->addWidget(button);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_filter);
    layout->addWidget(split, 1);
    layout->addLayout(bottom);

    connect(m_filter, &HistoryFilterBar::filterChanged, &m_model, &HistoryTableModel::setFilter);
    connect(m_filter, &HistoryFilterBar::finished, this, [this] {
        if (m_model.rowCount() > 0 && !m_table->selectionModel()->hasSelection())
            m_table->selectRow(0);
        m_table->setFocus();
    });
    connect(&m_model, &HistoryTableModel::reloaded, this, &HistoryWindow::showCount);
    connect(&m_model, &QAbstractItemModel::rowsInserted, this, &HistoryWindow::showCount);
    // Enter and a double click both come as activation.
    connect(m_table, &QAbstractItemView::activated, this, [this](const QModelIndex& index) {
        if (const HistoryIncident* incident = m_model.incidentAt(index.row()))
            emit sourceRequested(incident->address);
    });
    connect(csv, &QPushButton::clicked, this, [this] { exportRows(false); });
    connect(json, &QPushButton::clicked, this, [this] { exportRows(true); });
    connect(refresh, &QPushButton::clicked, this, &HistoryWindow::refresh);
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    auto* f5 = new QShortcut(QKeySequence::Refresh, this);
    connect(f5, &QShortcut::activated, this, &HistoryWindow::refresh);
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &QWidget::close);
    QSize size(72 * line, 42 * line);
    if (const QScreen* shown = screen())
        size = size.boundedTo(shown->availableSize() * 9 / 10);
    resize(size);
    showCount();
}

void HistoryWindow::buildCharts(QWidget* panel)
{
    m_hourly = new StackedBarChart(QStringLiteral("Intrusions per hour, last 24 hours"), panel);
    m_daily = new StackedBarChart(QStringLiteral("Intrusions per day, last 30 days"), panel);
    m_sources = new RankingChart(QStringLiteral("Top 10 sources"), panel);
    m_ports = new RankingChart(QStringLiteral("Top 10 ports, last 30 days"), panel);
    m_spoofable = new RankingChart(QStringLiteral("Spoofable probes, last 30 days"), panel);
    auto* layout = new QVBoxLayout(panel);
    for (QWidget* chart : std::initializer_list<QWidget*> { m_hourly, m_daily, m_sources, m_ports, m_spoofable })
        layout->addWidget(chart);
    layout->addStretch(1);
}

HistoryWindow::~HistoryWindow()
{
    if (m_chartsReader) {
        m_chartsReader->wait();
        delete m_chartsReader;
    }
}

void HistoryWindow::setQuery(HistoryQuery* query, const QString& path, const QString& why)
{
    m_query = query;
    m_path = query ? path : QString();
    m_why = why;
    m_model.setQuery(query);
    showCharts();
}

void HistoryWindow::refresh()
{
    m_model.reload();
    showCharts();
}

void HistoryWindow::newRowsIn()
{
    showCharts();
    // Read further down, the rows stay put until Refresh.
    if (m_table->verticalScrollBar()->value() == 0 && !m_table->selectionModel()->hasSelection())
        m_model.reload();
    else
        m_count->setText(m_count->text().section(QLatin1String(" (new"), 0, 0) + QStringLiteral(" (new incidents: Refresh, F5)"));
}

void HistoryWindow::showAddress(const QString& address)
{
    m_filter->showAddress(address);
    if (m_model.rowCount() > 0)
        m_table->selectRow(0);
    m_table->setFocus();
}

void HistoryWindow::showCharts()
{
    if (m_path.isEmpty()) {
        drawCharts({});
        return;
    }
    if (m_chartsReader) {
        m_chartsAgain = true;
        return;
    }
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const int offset = QDateTime::currentDateTime().offsetFromUtc();
    auto data = std::make_shared<HistoryCharts>();
    m_chartsReader = QThread::create([path = m_path, now, offset, data] {
        // A connection of the thread's own, gone with it.
        const QString connection = QStringLiteral("history-charts-%1").arg(quintptr(QThread::currentThreadId()));
        {
            HistoryQuery query(HistoryQuery::openForReading(path, connection));
            *data = query.charts(now, offset);
        }
        QSqlDatabase::removeDatabase(connection);
    });
    connect(m_chartsReader, &QThread::finished, this, [this, data] {
        m_chartsReader->deleteLater();
        m_chartsReader = nullptr;
        drawCharts(*data);
        if (std::exchange(m_chartsAgain, false))
            showCharts();
    });
    m_chartsReader->start();
}

void HistoryWindow::drawCharts(const HistoryCharts& data)
{
    // Without a store there are no hours to name.
    const int named = data.firstHour > 0 ? 24 : 0;
    QStringList hours;
    for (int i = 0; i < named; ++i)
        hours << QDateTime::fromMSecsSinceEpoch(data.firstHour + i * 3600000LL).toString(QStringLiteral("HH:00"));
    m_hourly->setBars(hours, QList<HistoryCharts::Stack>(data.hours.begin(), data.hours.end()), 6);
    QStringList days;
    for (int i = 0; i < (data.firstDay > 0 ? 30 : 0); ++i)
        days << QDateTime::fromMSecsSinceEpoch(data.firstDay + i * 86400000LL + 43200000LL).toString(QStringLiteral("MM-dd"));
    m_daily->setBars(days, QList<HistoryCharts::Stack>(data.days.begin(), data.days.end()), 7);
    QStringList labels;
    QList<qint64> values;
    for (const HistoryCharts::Source& source : data.topSources) {
        labels << (source.country.isEmpty() ? source.addressText : source.addressText + QStringLiteral(" (") + source.country + QLatin1Char(')'));
        values << source.count;
    }
    m_sources->setItems(labels, values);
    labels.clear();
    values.clear();
    for (const HistoryCharts::Port& port : data.topPorts) {
        labels << QString::number(port.port);
        values << port.count;
    }
    m_ports->setItems(labels, values);
    m_spoofable->setShare(data.spoofableProbes, data.probes, QStringLiteral("spoofable"), QStringLiteral("connected"));
}

void HistoryWindow::showCount()
{
    if (!m_query) {
        m_count->setText(m_why);
        return;
    }
    const qint64 total = m_model.total();
    const int shown = m_model.rowCount();
    if (total < 0)
        m_count->setText(QStringLiteral("The history cannot be read."));
    else if (shown >= HistoryTableModel::MaxLoaded && shown < total)
        m_count->setText(QStringLiteral("%1 incidents; the first %2 are listed: narrow the filter for the others.")
                             .arg(total)
                             .arg(shown));
    else
        m_count->setText(total == 1 ? QStringLiteral("1 incident") : QStringLiteral("%1 incidents").arg(total));
}

void HistoryWindow::exportRows(bool json)
{
    if (!m_query)
        return;
    const QString path = QFileDialog::getSaveFileName(this, json ? QStringLiteral("Export as JSON lines") : QStringLiteral("Export as CSV"),
        json ? QStringLiteral("history.jsonl") : QStringLiteral("history.csv"));
    if (path.isEmpty())
        return;
    QSaveFile file(path);
    QString error;
    const bool written = file.open(QIODevice::WriteOnly)
        && HistoryExport::write(*m_query, m_model.filter(), m_model.sortOrder(),
            json ? HistoryExport::Format::JsonLines : HistoryExport::Format::Csv, file, &error)
        && file.commit();
    m_count->setText(written ? QStringLiteral("Exported to %1.").arg(path)
                             : QStringLiteral("Export failed: %1").arg(error.isEmpty() ? file.errorString() : error));
}
