#pragma once

#include "Settings.h"

#include <QStringList>

#include <functional>
#include <type_traits>

class OptionsModel;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QRadioButton;
class QSpinBox;
class QWidget;

// Binds a control to one value of a working copy, the one way every page binds its controls: the
// control shows the value now and after every change of the working copy (loading, resetting,
// another control's edit), and a user's edit goes into the value.
namespace OptionBindings {

// Where the value lives in the working copy.
template <typename T> using Field = std::function<T&()>;

void bindValue(OptionsModel& copy, QCheckBox* box, Field<bool> field);
// A flag can be grayed, the third state only a stored value brings.
void bindValue(OptionsModel& copy, QCheckBox* box, Field<Flag> field);
// An On/Off pair of option buttons; the value is true when On is selected.
void bindValue(OptionsModel& copy, QRadioButton* on, QRadioButton* off, Field<bool> field);
void bindValue(OptionsModel& copy, QLineEdit* box, Field<QString> field);
void bindValue(OptionsModel& copy, QSpinBox* box, Field<int> field);
// A choice among the box's items, which come in the order of the values of the field's enum.
void bindIndex(OptionsModel& copy, QComboBox* box, std::function<int()> get, std::function<void(int)> set);
template <typename Get> void bindChoice(OptionsModel& copy, QComboBox* box, Get field)
{
    using Choice = std::remove_reference_t<decltype(field())>;
    bindIndex(
        copy, box, [field] { return int(field()); }, [field](int index) { field() = Choice(index); });
}
// Shown only: the page's buttons edit the list.
void bindValue(OptionsModel& copy, QListWidget* list, Field<QStringList> field);
// Enabled as the working copy says.
void bindEnabled(OptionsModel& copy, QWidget* widget, std::function<bool()> enabled);

// The field of a Settings working copy (OptionsModel::edit) at the given member.
template <typename Copy, typename T> Field<T> member(Copy& copy, T Settings::*field)
{
    return [&copy, field]() -> T& { return copy.edit().*field; };
}

// Whether the working copy enables the given dependent control (OptionsModel::isEnabled).
template <typename Copy, typename Control> std::function<bool()> enabledAs(const Copy& copy, Control control)
{
    return [&copy, control] { return copy.isEnabled(control); };
}

} // namespace OptionBindings
