#include "StatusListModel.h"

StatusListModel::StatusListModel(int cap, QObject* parent)
    : QAbstractListModel(parent)
    , m_cap(cap)
{
    m_flushTimer.setSingleShot(true);
    connect(&m_flushTimer, &QTimer::timeout, this, &StatusListModel::flush);
}

int StatusListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_lines.size());
}

QVariant StatusListModel::data(const QModelIndex& index, int role) const
{
    // The tooltip is the whole line, which the list may have shortened in the middle.
    if ((role != Qt::DisplayRole && role != Qt::ToolTipRole) || !index.isValid()
        || index.row() >= int(m_lines.size()))
        return {};
    return m_lines[std::size_t(index.row())];
}

void StatusListModel::append(const QString& line)
{
    m_pending.push_back(line);
    if (!m_watched) {
        // Unseen lines are inserted only to keep memory near the cap.
        if (m_pending.size() >= std::size_t(m_cap) / 2 + 1)
            flush();
        return;
    }
    if (m_flushTimer.isActive())
        return;
    const int interval = flushInterval();
    const qint64 since = m_sinceFlush.isValid() ? m_sinceFlush.elapsed() : interval;
    m_flushTimer.start(int(std::max<qint64>(0, interval - since)));
}

int StatusListModel::flushInterval() const
{
    return std::max(FlushInterval, int(m_lines.size()) / RowsPerMs);
}

void StatusListModel::flush()
{
    m_flushTimer.stop();
    if (m_pending.empty())
        return;
    m_sinceFlush.start();

    // Queued lines that would be dropped by the cap at once never enter the model.
    auto first = m_pending.begin();
    if (m_pending.size() > std::size_t(m_cap))
        first = m_pending.end() - m_cap;

    const int excess = int(m_lines.size()) + int(m_pending.end() - first) - m_cap;
    if (excess > 0) {
        const int removed = std::min(excess, int(m_lines.size()));
        beginRemoveRows({}, 0, removed - 1);
        m_lines.erase(m_lines.begin(), m_lines.begin() + removed);
        endRemoveRows();
    }

    const int row = int(m_lines.size());
    beginInsertRows({}, row, row + int(m_pending.end() - first) - 1);
    std::move(first, m_pending.end(), std::back_inserter(m_lines));
    endInsertRows();
    m_pending.clear();
    emit flushed();
}

void StatusListModel::setWatched(bool watched)
{
    if (watched == m_watched)
        return;
    m_watched = watched;
    if (watched)
        flush();
    else
        m_flushTimer.stop();
}

void StatusListModel::clear()
{
    m_flushTimer.stop();
    m_pending.clear();
    beginResetModel();
    m_lines.clear();
    endResetModel();
}

QStringList StatusListModel::lines() const
{
    QStringList all;
    all.reserve(lineCount());
    all.append(QStringList(m_lines.begin(), m_lines.end()));
    for (const QString& line : m_pending)
        all.append(line);
    return all;
}
