#include "RankingChart.h"

#include "ChartText.h"
#include "StackedBarChart.h"

#include <QPainter>

#include <algorithm>

RankingChart::RankingChart(const QString& title, QWidget* parent)
    : ChartWidget(title, parent)
{
}

void RankingChart::setItems(const QStringList& labels, const QList<qint64>& values)
{
    m_share = false;
    m_labels = labels;
    m_values = values;
    describe(ChartText::ranking(m_title, labels, values));
}

void RankingChart::setShare(qint64 part, qint64 whole, const QString& partName, const QString& restName)
{
    m_share = true;
    m_part = part;
    m_whole = whole;
    m_partName = partName;
    m_restName = restName;
    describe(ChartText::share(m_title, part, whole));
}

int RankingChart::rows() const
{
    return m_share ? 2 : std::max<int>(1, int(m_values.size()));
}

QSize RankingChart::sizeHint() const
{
    const int line = fontMetrics().height();
    return { 24 * line, (rows() + 1) * (line + line / 4) + line / 2 };
}

QSize RankingChart::minimumSizeHint() const
{
    const int line = fontMetrics().height();
    return { 14 * line, (rows() + 1) * (line + line / 4) + line / 2 };
}

void RankingChart::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QFontMetrics metrics = fontMetrics();
    const int line = metrics.height();
    const int row = line + line / 4;
    QRect area = rect().adjusted(2, 2, -2, -2);
    paintTitle(painter, area);
    area.setTop(area.top() + row);
    if (m_share) {
        paintShare(painter, area);
        return;
    }
    if (m_values.isEmpty()) {
        painter.drawText(area.left(), area.top() + metrics.ascent(), QStringLiteral("none"));
        return;
    }
    int labelWidth = 0;
    for (const QString& label : std::as_const(m_labels))
        labelWidth = std::max(labelWidth, metrics.horizontalAdvance(label));
    labelWidth = std::min(labelWidth + line, area.width() / 2);
    const qint64 highest = std::max<qint64>(1, *std::max_element(m_values.begin(), m_values.end()));
    const int countWidth = metrics.horizontalAdvance(QString::number(highest)) + line / 2;
    const int barSpace = std::max(1, area.width() - labelWidth - countWidth);
    for (qsizetype i = 0; i < m_values.size(); ++i) {
        const int top = area.top() + int(i) * row;
        const QString label = metrics.elidedText(m_labels.value(i), Qt::ElideMiddle, labelWidth - line / 3);
        painter.drawText(area.left(), top + metrics.ascent(), label);
        const int width = std::max(1, int(double(m_values[i]) * barSpace / double(highest)));
        painter.fillRect(area.left() + labelWidth, top + line / 8, width, line - line / 4, StackedBarChart::kindColor(0));
        painter.drawText(area.left() + labelWidth + width + line / 4, top + metrics.ascent(), QString::number(m_values[i]));
    }
}

void RankingChart::paintShare(QPainter& painter, QRect area)
{
    const QFontMetrics metrics = fontMetrics();
    const int line = metrics.height();
    const int percent = ChartText::percent(m_part, m_whole);
    const QColor partColor = StackedBarChart::kindColor(1);
    const QColor restColor = StackedBarChart::kindColor(0);
    const int width = area.width();
    const int partWidth = m_whole > 0 ? int(double(m_part) * width / double(m_whole)) : 0;
    if (m_whole > 0) {
        painter.fillRect(area.left(), area.top(), partWidth, line, partColor);
        painter.fillRect(area.left() + partWidth, area.top(), width - partWidth, line, restColor);
    } else {
        painter.drawRect(area.left(), area.top(), width - 1, line);
    }
    const int y = area.top() + line + line / 4;
    painter.fillRect(area.left(), y + line / 4, line / 2, line / 2, partColor);
    const QString partText = QStringLiteral("%1 %2% (%3)").arg(m_partName).arg(percent).arg(m_part);
    painter.drawText(area.left() + line * 3 / 4, y + metrics.ascent(), partText);
    const int restAt = area.left() + line * 3 / 4 + metrics.horizontalAdvance(partText) + line;
    painter.fillRect(restAt, y + line / 4, line / 2, line / 2, restColor);
    painter.drawText(restAt + line * 3 / 4, y + metrics.ascent(),
        QStringLiteral("%1 %2% (%3)").arg(m_restName).arg(m_whole > 0 ? 100 - percent : 0).arg(m_whole - m_part));
}
