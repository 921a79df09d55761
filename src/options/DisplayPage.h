#pragma once

#include "OptionsPage.h"

class QCheckBox;

// Page "Display": the monitor window and tray, and what happens when attacked. A right-button
// press on "Use Hotkeys" explains the function keys.
class DisplayPage : public OptionsPage
{
    Q_OBJECT

public:
    DisplayPage(
        const QString& title, OptionsModel& options, OptionsCommands& commands, QWidget* parent = nullptr);

    static QString hotkeyHelpText();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showHotkeyHelp();

    QCheckBox* m_hotkeysBox = nullptr;
};
