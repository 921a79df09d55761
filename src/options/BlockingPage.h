#pragma once

#include "OptionsPage.h"

#include <QTimer>

#include <functional>

class QListWidget;
class QPushButton;

// Page "Blocking": automatic blocking and for how long (pending until OK like every setting), and
// the addresses the firewall blocks now with the time each has left. Unblock acts at once: the
// list is the firewall's state, not a setting.
class BlockingPage : public OptionsPage
{
    Q_OBJECT

public:
    BlockingPage(
        const QString& title, OptionsModel& options, OptionsCommands& commands, QWidget* parent = nullptr);

    struct Blocked
    {
        QString address;
        int secondsLeft = 0;
        quint64 attempts = 0; // stopped since it was blocked
    };
    // The firewall's list as the program hands it in; the page shows none until it is set.
    struct BlockedList
    {
        std::function<QList<Blocked>()> entries; // oldest first
        std::function<void(const QString& address)> unblock;
        std::function<void()> refresh; // asks the firewall what it still blocks
    };

    void setBlockedList(BlockedList list);
    // Shows the list again; whoever holds it calls this when it changes.
    void showBlocked();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    BlockedList m_list;
    QListWidget* m_blockedList = nullptr;
    QPushButton* m_unblockButton = nullptr;
    // The time left counts down while the page is shown.
    QTimer m_tick;
};
