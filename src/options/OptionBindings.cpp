#include "OptionBindings.h"

#include "OptionsModel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QSpinBox>

#include <algorithm>
#include <array>

namespace OptionBindings {

namespace {
// A flag counts 0 unchecked, 1 checked, 2 grayed; Qt puts the grayed state in the middle.
constexpr std::array<Qt::CheckState, 3> kCheckStates { Qt::Unchecked, Qt::Checked, Qt::PartiallyChecked };

int flagOf(Qt::CheckState state)
{
    return int(std::find(kCheckStates.begin(), kCheckStates.end(), state) - kCheckStates.begin());
}

// Shows the value now and after every change of the working copy.
template <typename Show> void follow(OptionsModel& copy, QWidget* control, Show show)
{
    show();
    QObject::connect(&copy, &OptionsModel::changed, control, show);
}

// Writes a user's edit into the value; the working copy hears of it only when it changed.
template <typename T> void write(OptionsModel& copy, const Field<T>& field, const T& value)
{
    if (field() == value)
        return;
    field() = value;
    copy.edited();
}
} // namespace

void bindValue(OptionsModel& copy, QCheckBox* box, Field<bool> field)
{
    follow(copy, box, [box, field] { box->setChecked(field()); });
    QObject::connect(box, &QCheckBox::toggled, &copy, [&copy, field](bool on) { write(copy, field, on); });
}

void bindValue(OptionsModel& copy, QCheckBox* box, Field<Flag> field)
{
    follow(copy, box, [box, field] {
        const int state = field().checkState().value();
        box->setTristate(state == 2);
        box->setCheckState(kCheckStates[std::size_t(state)]);
    });
    // Clicked, not toggled: only the user's own clicks go back.
    QObject::connect(box, &QCheckBox::clicked, &copy,
        [&copy, box, field] { write(copy, field, Flag(flagOf(box->checkState()))); });
}

void bindValue(OptionsModel& copy, QRadioButton* on, QRadioButton* off, Field<bool> field)
{
    // Within an exclusive pair only selecting a button deselects the other.
    follow(copy, on, [on, off, field] { (field() ? on : off)->setChecked(true); });
    QObject::connect(on, &QRadioButton::clicked, &copy, [&copy, field] { write(copy, field, true); });
    QObject::connect(off, &QRadioButton::clicked, &copy, [&copy, field] { write(copy, field, false); });
}

void bindValue(OptionsModel& copy, QLineEdit* box, Field<QString> field)
{
    follow(copy, box, [box, field] {
        if (box->text() != field())
            box->setText(field());
    });
    QObject::connect(box, &QLineEdit::textEdited, &copy,
        [&copy, field](const QString& text) { write(copy, field, text); });
}

void bindValue(OptionsModel& copy, QSpinBox* box, Field<int> field)
{
    follow(copy, box, [box, field] { box->setValue(field()); });
    QObject::connect(
        box, &QSpinBox::valueChanged, &copy, [&copy, field](int value) { write(copy, field, value); });
}

void bindIndex(OptionsModel& copy, QComboBox* box, std::function<int()> get, std::function<void(int)> set)
{
    follow(copy, box, [box, get] { box->setCurrentIndex(get()); });
    QObject::connect(box, &QComboBox::currentIndexChanged, &copy, [&copy, get, set](int index) {
        if (index < 0 || index == get())
            return;
        set(index);
        copy.edited();
    });
}

void bindValue(OptionsModel& copy, QListWidget* list, Field<QStringList> field)
{
    const auto fill = [list, field] {
        list->clear();
        list->addItems(field());
    };
    // Filling again drops the selection, so only a list that changed (or was reloaded) is refilled.
    follow(copy, list, [list, field, fill] {
        bool same = list->count() == field().size();
        for (int i = 0; same && i < list->count(); ++i)
            same = list->item(i)->text() == field().at(i);
        if (!same)
            fill();
    });
    QObject::connect(&copy, &OptionsModel::reloaded, list, fill);
}

void bindEnabled(OptionsModel& copy, QWidget* widget, std::function<bool()> enabled)
{
    follow(copy, widget, [widget, enabled] { widget->setEnabled(enabled()); });
}

} // namespace OptionBindings
