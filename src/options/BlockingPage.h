#pragma once

#include "OptionsPage.h"

#include <QTimer>

class IntruderBlocker;
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

    // The blocked addresses shown and unblocked here; none until set.
    void setBlocker(IntruderBlocker* blocker);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void showBlocked();

    IntruderBlocker* m_blocker = nullptr;
    QListWidget* m_blockedList = nullptr;
    QPushButton* m_unblockButton = nullptr;
    // The time left counts down while the page is shown.
    QTimer m_tick;
};
