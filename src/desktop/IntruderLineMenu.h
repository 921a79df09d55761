#pragma once

#include "IpAddress.h"

#include <QObject>

class IntruderBlocker;
class QAbstractItemModel;
class QListView;

// The status list's context menu on an intruder's lines: "Block for 1 hour" where the blocking
// rules allow it, and "Unblock" beside it while the address is blocked.
class IntruderLineMenu : public QObject
{
    Q_OBJECT

public:
    static constexpr int BlockSeconds = 60 * 60;

    IntruderLineMenu(QListView& list, IntruderBlocker& blocker);

    // The address a line is about: the "IP: " line of the intruder's block of lines the row lies
    // in, or the one a "Blocked", "Unblocked" or "Not blocking" line names; null for any other.
    static IpAddress addressAt(const QAbstractItemModel& model, int row);

private:
    void open(const QPoint& at);

    QListView& m_list;
    IntruderBlocker& m_blocker;
};
