#pragma once

#include "Settings.h"

#include <QFrame>

class OptionsCommands;
class OptionsModel;
class QBoxLayout;
class QCheckBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;

// One page of the options dialog: a frame with its title drawn as a bar across the top and the
// page's groups under it. The frame's own surface clears the page labels' highlight, so it
// tracks the pointer.
class OptionsPage : public QFrame
{
    Q_OBJECT

public:
    OptionsPage(const QString& title, OptionsModel& options, OptionsCommands& commands, QWidget* parent);

    // Before OK stores anything: says at each field what the program would not use, and gives the
    // first such field, or none.
    virtual QWidget* refuseFields() { return nullptr; }

protected:
    // Where the page puts its groups.
    QBoxLayout* body() const { return m_body; }
    OptionsModel& options() const { return m_options; }

    // A check box in group showing, and editing, one flag of the settings.
    QCheckBox* flagBox(const QString& caption, Flag Settings::*flag, QWidget* group);
    // A text box with its "?" button at the right, which browses for the box.
    // The box is named textName, the button "browseButton" and its index.
    QHBoxLayout* browseRow(QLineEdit*& text, QPushButton*& button, int browseIndex, const QString& textName);
    // Where a field says what is wrong with it, under the field: hidden while nothing is.
    static QLabel* problemLabel(QWidget* group, const QString& name);
    // Shows the problem, or hides the label when there is none; whether there was one.
    static bool showProblem(QLabel* label, const QString& problem);

private:
    OptionsModel& m_options;
    OptionsCommands& m_commands;
    QBoxLayout* m_body;
};
