#pragma once

#include <QAbstractListModel>
#include <QElapsedTimer>
#include <QTimer>

#include <deque>

// The status list's lines. Appends are collected and inserted into the model in batches: the
// first line after a quiet spell on the next event-loop pass, and while lines keep coming at most
// one batch per flush interval. Every insert makes the list view lay out all its rows again, so a
// flood costs a few view updates a second instead of one per line or per pass; and since that
// layout grows with the rows held, a long list waits longer between batches (up to a second at
// 100,000 lines), which keeps the layout work per second the same at any length.
// While no view can be seen (no display, the window hidden or minimized, the list folded away)
// the lines wait and no view hears of them; they are inserted when a view can be seen again.
// Only the newest lines up to the cap are kept.
class StatusListModel : public QAbstractListModel
{
    Q_OBJECT

public:
    static constexpr int DefaultCap = 100000;
    static constexpr int FlushInterval = 100; // ms, the shortest wait between batches
    // Rows the view may lay out per millisecond of wait between batches.
    static constexpr int RowsPerMs = 100;

    explicit StatusListModel(int cap = DefaultCap, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // Queues a line; it reaches the model at the next flush.
    void append(const QString& line);
    // The wait between two batches for the rows the model holds now.
    int flushInterval() const;
    // Inserts the queued lines now and drops the oldest beyond the cap.
    void flush();
    void clear();

    // Whether any view of the list can be seen; while not, lines wait (see above).
    void setWatched(bool watched);
    bool isWatched() const { return m_watched; }

    // Lines held, queued ones included.
    int lineCount() const { return int(m_lines.size() + m_pending.size()); }
    QStringList lines() const;

signals:
    // After every flush that inserted lines.
    void flushed();

private:
    std::deque<QString> m_lines;
    std::vector<QString> m_pending;
    QTimer m_flushTimer;
    QElapsedTimer m_sinceFlush;
    int m_cap;
    bool m_watched = true;
};
