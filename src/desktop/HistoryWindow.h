#pragma once

#include "HistoryTableModel.h"

#include <QWidget>

class HistoryFilterBar;
class QLabel;
class QTableView;
class QThread;
class RankingChart;
class StackedBarChart;

// The History window: the filter bar, the incidents newest first (sortable by any column), the
// charts beside them and how many incidents match. Enter or a double click on an incident opens
// its source's details, through sourceRequested.
class HistoryWindow : public QWidget
{
    Q_OBJECT

public:
    explicit HistoryWindow(QWidget* parent = nullptr);
    ~HistoryWindow() override;

    // query: nullptr while there is no history yet; why says so. The charts are read from the
    // store at path on a thread of their own: over a month of attacks they take longer than a page.
    void setQuery(HistoryQuery* query, const QString& path = {}, const QString& why = {});
    // Reads the incidents and the charts again.
    void refresh();
    // The writer added rows: the charts and, while the newest are in view, the table show them.
    void newRowsIn();
    // The incidents of one address only.
    void showAddress(const QString& address);

    HistoryTableModel& model() { return m_model; }
    bool chartsPending() const { return m_chartsReader != nullptr; }
    QTableView* table() const { return m_table; }

signals:
    void sourceRequested(const QByteArray& address);

private:
    void buildCharts(QWidget* panel);
    void showCharts();
    void drawCharts(const HistoryCharts& data);
    void showCount();
    void exportRows(bool json);

    HistoryQuery* m_query = nullptr;
    QString m_path;
    QString m_why;
    QThread* m_chartsReader = nullptr;
    bool m_chartsAgain = false; // asked for while being read: read once more
    HistoryTableModel m_model;
    HistoryFilterBar* m_filter;
    QTableView* m_table;
    QLabel* m_count;
    StackedBarChart* m_hourly = nullptr;
    StackedBarChart* m_daily = nullptr;
    RankingChart* m_sources = nullptr;
    RankingChart* m_ports = nullptr;
    RankingChart* m_spoofable = nullptr;
};
