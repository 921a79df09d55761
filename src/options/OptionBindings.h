#pragma once

#include "OptionsModel.h"

#include <QObject>

#include <initializer_list>
#include <vector>

class QWidget;

// Binds a page's controls to the working copy, one row per control: a user's edit goes into the
// working copy, and every change of the working copy (loading, resetting) shows in the control.
class OptionBindings : public QObject
{
    Q_OBJECT

public:
    enum class Kind {
        Check, // QCheckBox, OptionsModel::Check
        OnOff, // QRadioButton On with its Off partner, OptionsModel::Choice
        Text, // QLineEdit, OptionsModel::Text
        Enabled, // any widget enabled as OptionsModel::Control says
        Ports, // QListWidget, the port list
    };

    struct Row
    {
        QWidget* widget;
        Kind kind;
        int index = -1; // the enum value for the kind; unused for the port list
        QWidget* off = nullptr; // the Off button of an On/Off pair
    };

    OptionBindings(OptionsModel& options, std::initializer_list<Row> rows, QObject* parent);

private:
    void connectEdits(const Row& row);
    void show(const Row& row) const;
    void showAll(Kind kind, int index) const;

    OptionsModel& m_options;
    std::vector<Row> m_rows;
};
