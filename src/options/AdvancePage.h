#pragma once

#include "OptionsPage.h"

class QLabel;
class QListWidget;

// Page "Advance": the port list with Add and Remove, the chat link and the random port sentinel.
// Entries no listener can guard (outside 1-65535) stay as typed, and are named beside the list;
// text that is no number, or a port already listed, is refused there.
class AdvancePage : public OptionsPage
{
    Q_OBJECT

public:
    AdvancePage(
        const QString& title, OptionsModel& options, OptionsCommands& commands, QWidget* parent = nullptr);

    // Rows selected in the port list, for Remove.
    QList<int> selectedPortRows() const;

private:
    void showPorts();

    QListWidget* m_portList = nullptr;
    QLabel* m_unguardedNote = nullptr;
    QLabel* m_portError = nullptr;
    int m_shownCount = 0;
};
