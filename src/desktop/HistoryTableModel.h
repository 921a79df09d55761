#pragma once

#include "HistoryQuery.h"

#include <QAbstractTableModel>

#include <functional>

// The incidents a filter matches, a page at a time as the view scrolls down: the whole history is
// never read into memory. At most MaxLoaded rows are held; beyond them the filter must narrow.
class HistoryTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { Time, Address, Country, Owner, Ports, Kinds, Count, State, ColumnCount };
    static constexpr int PageSize = 200;
    static constexpr int MaxLoaded = 20000;

    // query: nullptr while there is no history to read.
    explicit HistoryTableModel(QObject* parent = nullptr);

    void setQuery(HistoryQuery* query);
    void setFilter(const HistoryFilter& filter);
    const HistoryFilter& filter() const { return m_filter; }
    const HistorySort& sortOrder() const { return m_sort; }
    // Reads the first page and the count again.
    void reload();

    // Matching incidents in the store; -1 when they could not be counted.
    qint64 total() const { return m_total; }
    const HistoryIncident* incidentAt(int row) const;

    static QString stateText(HistoryState state);
    static QString kindsText(unsigned kinds);
    static QString ownerText(const HistoryIncident& incident);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex& parent = {}) const override;
    void fetchMore(const QModelIndex& parent = {}) override;
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

signals:
    void reloaded();

private:
    HistoryQuery* m_query = nullptr;
    HistoryFilter m_filter;
    HistorySort m_sort;
    QList<HistoryIncident> m_rows;
    qint64 m_total = 0;
    bool m_atEnd = true; // the last page read was short: nothing follows
};
