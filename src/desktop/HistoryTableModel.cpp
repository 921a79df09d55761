#include "HistoryTableModel.h"

#include <QDateTime>


namespace {
constexpr HistoryColumn SortColumns[] = { HistoryColumn::Time, HistoryColumn::Address, HistoryColumn::Country,
    HistoryColumn::Owner, HistoryColumn::Ports, HistoryColumn::Kinds, HistoryColumn::Count, HistoryColumn::State };
constexpr const char* Headers[] = { "Time", "Address", "Country", "Network owner", "Ports", "Kinds", "Count", "State" };
} // namespace

HistoryTableModel::HistoryTableModel(QObject* parent)
    : QAbstractTableModel(parent)
{
}

void HistoryTableModel::setQuery(HistoryQuery* query)
{
    m_query = query;
    reload();
}

void HistoryTableModel::setFilter(const HistoryFilter& filter)
{
    m_filter = filter;
    reload();
}

void HistoryTableModel::reload()
{
    beginResetModel();
    m_rows = m_query ? m_query->incidents(m_filter, m_sort, 0, PageSize) : QList<HistoryIncident>();
    m_atEnd = m_rows.size() < PageSize;
    m_total = m_query ? m_query->count(m_filter) : 0;
    endResetModel();
    emit reloaded();
}

const HistoryIncident* HistoryTableModel::incidentAt(int row) const
{
    return row >= 0 && row < m_rows.size() ? &m_rows[row] : nullptr;
}

QString HistoryTableModel::stateText(HistoryState state)
{
    switch (state) {
    case HistoryState::Blocked:
        return QStringLiteral("blocked");
    case HistoryState::Allowed:
        return QStringLiteral("allowed");
    case HistoryState::Alarm:
        break;
    }
    return QStringLiteral("alarm");
}

QString HistoryTableModel::kindsText(unsigned kinds)
{
    return HistoryFilter::kindNames(kinds).replace(QLatin1Char(','), QLatin1String(", "));
}

QString HistoryTableModel::ownerText(const HistoryIncident& incident)
{
    if (incident.asn == 0)
        return incident.owner;
    const QString as = QStringLiteral("AS%1").arg(incident.asn);
    return incident.owner.isEmpty() ? as : incident.owner + QStringLiteral(" (") + as + QLatin1Char(')');
}

int HistoryTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int HistoryTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant HistoryTableModel::data(const QModelIndex& index, int role) const
{
    const HistoryIncident* incident = incidentAt(index.row());
    if (!incident || (role != Qt::DisplayRole && role != Qt::ToolTipRole && role != Qt::TextAlignmentRole))
        return {};
    if (role == Qt::TextAlignmentRole)
        return index.column() == Count ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant();
    switch (index.column()) {
    case Time: {
        // The clock of the place it was seen, as Log.txt wrote it.
        const QDateTime when = QDateTime::fromMSecsSinceEpoch(incident->first, Qt::OffsetFromUTC, incident->utcOffset);
        return when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    }
    case Address:
        return incident->sources > 1 ? QStringLiteral("%1 (+%2 more)").arg(incident->addressText).arg(incident->sources - 1)
                                     : incident->addressText;
    case Country:
        return incident->country;
    case Owner:
        return ownerText(*incident);
    case Ports:
        return incident->ports;
    case Kinds:
        return kindsText(incident->kinds);
    case Count:
        return incident->count;
    case State:
        return stateText(incident->state);
    default:
        return {};
    }
}

QVariant HistoryTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= ColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    return QString::fromLatin1(Headers[section]);
}

bool HistoryTableModel::canFetchMore(const QModelIndex& parent) const
{
    return !parent.isValid() && m_query && !m_atEnd && m_rows.size() < MaxLoaded;
}

void HistoryTableModel::fetchMore(const QModelIndex& parent)
{
    if (!canFetchMore(parent))
        return;
    // After the last row held, not at an offset: a deep page costs what the first did.
    const int limit = std::min<int>(PageSize, MaxLoaded - int(m_rows.size()));
    const QList<HistoryIncident> page = m_query->incidentsAfter(m_filter, m_sort, m_rows.last(), limit);
    m_atEnd = page.size() < limit;
    if (page.isEmpty())
        return;
    beginInsertRows({}, int(m_rows.size()), int(m_rows.size() + page.size() - 1));
    m_rows.append(page);
    endInsertRows();
}

void HistoryTableModel::sort(int column, Qt::SortOrder order)
{
    if (column < 0 || column >= ColumnCount)
        return;
    const HistorySort sort { SortColumns[column], order == Qt::DescendingOrder };
    if (sort.column == m_sort.column && sort.descending == m_sort.descending)
        return;
    m_sort = sort;
    reload();
}
