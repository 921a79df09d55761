#pragma once

#include "OptionsPage.h"

// Page "General": what happens at start-up, and the intrusion log.
class GeneralPage : public OptionsPage
{
    Q_OBJECT

public:
    GeneralPage(const QString& title, OptionsModel& options, OptionsCommands& commands, QWidget* parent = nullptr);
};
