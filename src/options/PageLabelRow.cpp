#include "PageLabelRow.h"

#include <QAccessible>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QStyleOptionFocusRect>
#include <QStylePainter>

PageLabelRow::PageLabelRow(QWidget* parent)
    : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleDescription(
        QStringLiteral("Options pages: arrow keys, Ctrl+Tab or Alt+1 to Alt+8 change the page"));
    auto* row = new QHBoxLayout(this);
    // Room for the focus frame beside the labels and the current page's bar under them.
    row->setContentsMargins(3, 0, 3, SelectionBar + 1);
    row->setSpacing(16);
    row->addStretch(1);
}

QLabel* PageLabelRow::addLabel(const QString& text)
{
    auto* label = new QLabel(text, this);
    auto* row = static_cast<QHBoxLayout*>(layout());
    row->insertWidget(row->count() - 1, label);
    m_labels.push_back(label);
    if (m_labels.size() == 1)
        setCurrent(0);
    return label;
}

void PageLabelRow::setCurrent(int index)
{
    if (index < 0 || index >= count())
        return;
    m_current = index;
    // Setting the name sends the change to a screen reader, which reads it while the row has focus.
    setAccessibleName(m_labels[std::size_t(index)]->text() + QStringLiteral(" page"));
    if (hasFocus()) {
        QAccessibleEvent focus(this, QAccessible::Focus);
        QAccessible::updateAccessibility(&focus);
    }
    update();
}

void PageLabelRow::keyPressEvent(QKeyEvent* event)
{
    int wanted = -1;
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Up:
        wanted = (m_current + count() - 1) % count();
        break;
    case Qt::Key_Right:
    case Qt::Key_Down:
        wanted = (m_current + 1) % count();
        break;
    case Qt::Key_Home:
        wanted = 0;
        break;
    case Qt::Key_End:
        wanted = count() - 1;
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    if (event->modifiers() & ~Qt::KeypadModifier) {
        QWidget::keyPressEvent(event);
        return;
    }
    emit pageRequested(wanted);
}

void PageLabelRow::paintEvent(QPaintEvent*)
{
    if (m_labels.empty())
        return;
    const QRect current = m_labels[std::size_t(m_current)]->geometry().adjusted(-3, 0, 3, 0);
    QStylePainter painter(this);
    // The page shown is marked at all times, in the colour of its title bar.
    painter.fillRect(current.left(), current.bottom() + 1, current.width(), SelectionBar,
        palette().color(QPalette::Highlight));
    if (!hasFocus())
        return;
    QStyleOptionFocusRect option;
    option.initFrom(this);
    option.rect = current;
    painter.drawPrimitive(QStyle::PE_FrameFocusRect, option);
}

void PageLabelRow::focusInEvent(QFocusEvent* event)
{
    QWidget::focusInEvent(event);
    update();
}

void PageLabelRow::focusOutEvent(QFocusEvent* event)
{
    QWidget::focusOutEvent(event);
    update();
}
