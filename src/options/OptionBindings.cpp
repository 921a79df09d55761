#include "OptionBindings.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>

#include <algorithm>
#include <array>

using Check = OptionsModel::Check;
using Choice = OptionsModel::Choice;
using Text = OptionsModel::Text;
using Control = OptionsModel::Control;

namespace {
// The working copy counts 0 unchecked, 1 checked, 2 grayed; Qt puts the grayed state in the middle.
constexpr std::array<Qt::CheckState, 3> kCheckStates { Qt::Unchecked, Qt::Checked, Qt::PartiallyChecked };

int modelState(Qt::CheckState state)
{
    return int(std::find(kCheckStates.begin(), kCheckStates.end(), state) - kCheckStates.begin());
}
} // namespace

OptionBindings::OptionBindings(OptionsModel& options, std::initializer_list<Row> rows, QObject* parent)
    : QObject(parent)
    , m_options(options)
    , m_rows(rows)
{
    for (const Row& row : m_rows) {
        connectEdits(row);
        show(row);
    }
    connect(&options, &OptionsModel::checkStateChanged, this, [this](Check c) { showAll(Kind::Check, int(c)); });
    connect(&options, &OptionsModel::choiceChanged, this, [this](Choice c) { showAll(Kind::OnOff, int(c)); });
    connect(&options, &OptionsModel::textChanged, this, [this](Text t) { showAll(Kind::Text, int(t)); });
    connect(&options, &OptionsModel::enabledChanged, this, [this](Control c) { showAll(Kind::Enabled, int(c)); });
    connect(&options, &OptionsModel::portsChanged, this, [this] { showAll(Kind::Ports, -1); });
}

void OptionBindings::connectEdits(const Row& row)
{
    // Only the user's own edits go back: the signals below do not fire when a control is set
    // from the working copy.
    switch (row.kind) {
    case Kind::Check: {
        auto* box = static_cast<QCheckBox*>(row.widget);
        connect(box, &QCheckBox::clicked, this,
            [this, box, row] { m_options.setCheckState(Check(row.index), modelState(box->checkState())); });
        break;
    }
    case Kind::OnOff:
        connect(static_cast<QRadioButton*>(row.widget), &QRadioButton::clicked, this,
            [this, row] { m_options.setOn(Choice(row.index), true); });
        connect(static_cast<QRadioButton*>(row.off), &QRadioButton::clicked, this,
            [this, row] { m_options.setOn(Choice(row.index), false); });
        break;
    case Kind::Text:
        connect(static_cast<QLineEdit*>(row.widget), &QLineEdit::textEdited, this,
            [this, row](const QString& text) { m_options.setText(Text(row.index), text); });
        break;
    case Kind::Enabled:
    case Kind::Ports:
        break;
    }
}

void OptionBindings::show(const Row& row) const
{
    switch (row.kind) {
    case Kind::Check: {
        // State 2 is the grayed third state, which only a stored value can bring.
        auto* box = static_cast<QCheckBox*>(row.widget);
        const int state = m_options.checkState(Check(row.index));
        box->setTristate(state == 2);
        box->setCheckState(kCheckStates[std::size_t(state)]);
        break;
    }
    case Kind::OnOff:
        // Within an exclusive pair only selecting a button deselects the other.
        static_cast<QRadioButton*>(m_options.isOn(Choice(row.index)) ? row.widget : row.off)->setChecked(true);
        break;
    case Kind::Text: {
        auto* edit = static_cast<QLineEdit*>(row.widget);
        if (edit->text() != m_options.text(Text(row.index)))
            edit->setText(m_options.text(Text(row.index)));
        break;
    }
    case Kind::Enabled:
        row.widget->setEnabled(m_options.isEnabled(Control(row.index)));
        break;
    case Kind::Ports: {
        auto* list = static_cast<QListWidget*>(row.widget);
        list->clear();
        list->addItems(m_options.ports());
        break;
    }
    }
}

void OptionBindings::showAll(Kind kind, int index) const
{
    for (const Row& row : m_rows) {
        if (row.kind == kind && row.index == index)
            show(row);
    }
}
