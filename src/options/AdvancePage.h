#pragma once

#include "OptionsPage.h"

class QListWidget;

// Page "Advance": the port list with Add and Remove, the chat link and the random port sentinel.
class AdvancePage : public OptionsPage
{
    Q_OBJECT

public:
    AdvancePage(
        const QString& title, OptionsModel& options, OptionsCommands& commands, QWidget* parent = nullptr);

    // Rows selected in the port list, for Remove.
    QList<int> selectedPortRows() const;

private:
    QListWidget* m_portList = nullptr;
};
