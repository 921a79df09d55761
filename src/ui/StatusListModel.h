#pragma once

#include <QAbstractListModel>
#include <QTimer>

#include <deque>

// The status list's lines. Appends are collected and inserted into the model once per
// event-loop pass, so a flood of lines costs one view update per pass, not one per line.
// Only the newest lines up to the cap are kept.
class StatusListModel : public QAbstractListModel
{
    Q_OBJECT

public:
    static constexpr int DefaultCap = 100000;

    explicit StatusListModel(int cap = DefaultCap, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // Queues a line; it reaches the model at the next flush.
    void append(const QString& line);
    // Inserts the queued lines now and drops the oldest beyond the cap.
    void flush();
    void clear();

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
    int m_cap;
};
