#include "OptionsPage.h"

#include "OptionBindings.h"
#include "OptionsCommands.h"
#include "OptionsModel.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

OptionsPage::OptionsPage(
    const QString& title, OptionsModel& options, OptionsCommands& commands, QWidget* parent)
    : QFrame(parent)
    , m_options(options)
    , m_commands(commands)
{
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    setMouseTracking(true);

    auto* heading = new QLabel(title, this);
    heading->setObjectName(QStringLiteral("pageTitle"));
    heading->setAlignment(Qt::AlignCenter);
    heading->setAutoFillBackground(true);
    heading->setBackgroundRole(QPalette::Highlight);
    heading->setForegroundRole(QPalette::HighlightedText);
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);
    heading->setMargin(3);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(heading);
    m_body = new QVBoxLayout;
    layout->addLayout(m_body);
    layout->addStretch(1);
}

QHBoxLayout* OptionsPage::browseRow(
    QLineEdit*& text, QPushButton*& button, int browseIndex, const QString& textName)
{
    text = new QLineEdit(this);
    text->setObjectName(textName);
    button = new QPushButton(QStringLiteral("?"), this);
    button->setObjectName(QStringLiteral("browseButton%1").arg(browseIndex));
    button->setFixedWidth(button->sizeHint().height() + 4);
    connect(button, &QPushButton::clicked, this, [this, browseIndex] { m_commands.browse(browseIndex); });
    auto* row = new QHBoxLayout;
    row->addWidget(text, 1);
    row->addWidget(button);
    return row;
}

QCheckBox* OptionsPage::flagBox(const QString& caption, Flag Settings::*flag, QWidget* group)
{
    auto* box = new QCheckBox(caption, group);
    OptionBindings::bindValue(m_options, box, OptionBindings::member(m_options, flag));
    return box;
}

QLabel* OptionsPage::problemLabel(QWidget* group, const QString& name)
{
    auto* label = new QLabel(group);
    label->setObjectName(name);
    label->setWordWrap(true);
    label->hide();
    return label;
}

bool OptionsPage::showProblem(QLabel* label, const QString& problem)
{
    label->setText(problem);
    label->setVisible(!problem.isEmpty());
    return !problem.isEmpty();
}
