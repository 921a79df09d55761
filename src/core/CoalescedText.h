#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

// Passes a text that may change on every intrusion on to a widget that repaints for each change.
// The first change after a quiet spell goes out on the next event-loop pass; while changes keep
// coming, at most one goes out per interval, always the newest. A text equal to the one already
// out is not sent again. Nobody can read a label that changes a thousand times a second, but each
// change cost a layout, a paint and a copy to the display.
class CoalescedText : public QObject
{
    Q_OBJECT

public:
    explicit CoalescedText(const QString& initial, int intervalMs, QObject* parent = nullptr);

    void set(const QString& text);
    // The last text sent out.
    QString shown() const { return m_shown; }
    bool isPending() const { return m_timer.isActive(); }
    // What was sent out is gone (another program replaced it): the next text goes out even when
    // it equals the last one sent.
    void forget() { m_shown.clear(); }

signals:
    void changed(const QString& text);

private:
    void send();

    QString m_shown;
    QString m_latest;
    QTimer m_timer;
    QElapsedTimer m_sinceSent;
    int m_interval;
};
