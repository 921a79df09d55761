#include "ChartWidget.h"

#include <QPainter>

ChartWidget::ChartWidget(const QString& title, QWidget* parent)
    : QWidget(parent)
    , m_title(title)
{
    setAccessibleName(title);
    setFocusPolicy(Qt::TabFocus); // a screen reader's user can reach the description
}

void ChartWidget::describe(const QString& text)
{
    setToolTip(text);
    setAccessibleDescription(text);
    updateGeometry();
    update();
}

void ChartWidget::paintTitle(QPainter& painter, const QRect& area) const
{
    const QFontMetrics metrics = fontMetrics();
    QFont bold = font();
    bold.setBold(true);
    painter.setFont(bold);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(area.left(), area.top() + metrics.ascent(), m_title);
    painter.setFont(font());
}
