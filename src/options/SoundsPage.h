#pragma once

#include "OptionsPage.h"

// Page "Sounds": sounds on or off, and the four sound files.
class SoundsPage : public OptionsPage
{
    Q_OBJECT

public:
    SoundsPage(const QString& title, OptionsModel& options, OptionsCommands& commands, QWidget* parent = nullptr);
};
