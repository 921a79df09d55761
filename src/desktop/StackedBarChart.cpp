#include "StackedBarChart.h"

#include "ChartText.h"

#include <QPainter>

#include <algorithm>

namespace {
// The least number of the form 1, 2 or 5 times a power of ten at or above value: the top of the scale.
qint64 scaleTop(qint64 value)
{
    qint64 step = 1;
    while (true) {
        for (const qint64 factor : { 1, 2, 5 }) {
            if (step * factor >= value)
                return step * factor;
        }
        step *= 10;
    }
}
} // namespace

StackedBarChart::StackedBarChart(const QString& title, QWidget* parent)
    : ChartWidget(title, parent)
{
}

QColor StackedBarChart::kindColor(int kind)
{
    // Told apart without relying on hue alone: light and dark alternate.
    static const QColor colors[] = { QColor(0x1f, 0x77, 0xb4), QColor(0xff, 0x7f, 0x0e), QColor(0x2c, 0xa0, 0x2c),
        QColor(0xd6, 0x27, 0x28), QColor(0x94, 0x67, 0xbd), QColor(0x8c, 0x56, 0x4b), QColor(0xe3, 0x77, 0xc2),
        QColor(0x7f, 0x7f, 0x7f), QColor(0xbc, 0xbd, 0x22) };
    return colors[std::clamp(kind, 0, int(std::size(colors)) - 1)];
}

void StackedBarChart::setBars(const QStringList& labels, const QList<HistoryCharts::Stack>& stacks, int labelEvery)
{
    m_labels = labels;
    m_stacks = stacks;
    m_labelEvery = std::max(1, labelEvery);
    describe(ChartText::stacks(m_title, labels, stacks));
}

QSize StackedBarChart::sizeHint() const
{
    const int line = fontMetrics().height();
    return { 24 * line, 10 * line };
}

QSize StackedBarChart::minimumSizeHint() const
{
    const int line = fontMetrics().height();
    return { 14 * line, 8 * line };
}

void StackedBarChart::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, false);
    const QFontMetrics metrics = fontMetrics();
    const int line = metrics.height();
    QRect area = rect().adjusted(2, 2, -2, -2);

    paintTitle(painter, area);

    // The legend: the kinds that occur, in their order.
    std::array<qint64, HistoryCharts::Kinds> perKind {};
    qint64 highest = 0;
    for (const HistoryCharts::Stack& stack : std::as_const(m_stacks)) {
        qint64 total = 0;
        for (int kind = 0; kind < HistoryCharts::Kinds; ++kind) {
            perKind[std::size_t(kind)] += stack[std::size_t(kind)];
            total += stack[std::size_t(kind)];
        }
        highest = std::max(highest, total);
    }
    int x = area.left();
    int y = area.top() + line + line / 4;
    for (int kind = 0; kind < HistoryCharts::Kinds; ++kind) {
        if (perKind[std::size_t(kind)] == 0)
            continue;
        const QString name = QLatin1String(HistoryKinds::Names[std::size_t(kind)]);
        const int width = line * 3 / 4 + metrics.horizontalAdvance(name) + line / 2;
        if (x + width > area.right() && x > area.left()) {
            x = area.left();
            y += line;
        }
        painter.fillRect(x, y + line / 4, line / 2, line / 2, kindColor(kind));
        painter.drawText(x + line * 3 / 4, y + metrics.ascent(), name);
        x += width;
    }
    area.setTop(y + line + line / 4);

    const qint64 top = scaleTop(std::max<qint64>(highest, 1));
    const QString topText = QString::number(top);
    const int axisWidth = metrics.horizontalAdvance(topText) + line / 3;
    const QRect plot(area.left() + axisWidth, area.top() + line / 2, area.width() - axisWidth, area.height() - line * 3 / 2);
    if (plot.height() < line || m_stacks.isEmpty())
        return;
    painter.drawText(QRect(area.left(), plot.top() - line / 2, axisWidth - line / 6, line), Qt::AlignRight | Qt::AlignVCenter, topText);
    painter.drawText(QRect(area.left(), plot.bottom() - line / 2, axisWidth - line / 6, line), Qt::AlignRight | Qt::AlignVCenter,
        QStringLiteral("0"));
    QColor grid = palette().color(QPalette::WindowText);
    grid.setAlpha(60);
    painter.setPen(grid);
    painter.drawLine(plot.topLeft(), plot.topRight());
    painter.drawLine(plot.bottomLeft(), plot.bottomRight());

    const qsizetype bars = m_stacks.size();
    const double slot = double(plot.width()) / double(bars);
    const int gap = slot >= 4 ? std::max(1, int(slot / 5)) : 0;
    painter.setPen(palette().color(QPalette::WindowText));
    for (qsizetype i = 0; i < bars; ++i) {
        const int left = plot.left() + int(slot * double(i));
        const int width = std::max(1, int(slot * double(i + 1)) - int(slot * double(i)) - gap);
        qint64 below = 0;
        for (int kind = 0; kind < HistoryCharts::Kinds; ++kind) {
            const qint64 count = m_stacks[i][std::size_t(kind)];
            if (count == 0)
                continue;
            const int bottom = plot.bottom() - int(double(below) * plot.height() / double(top));
            below += count;
            const int upper = plot.bottom() - int(double(below) * plot.height() / double(top));
            painter.fillRect(QRect(QPoint(left, upper), QPoint(left + width - 1, bottom)), kindColor(kind));
        }
        if (i % m_labelEvery == 0 && i < m_labels.size()) {
            const QString label = m_labels[i];
            const int labelWidth = metrics.horizontalAdvance(label);
            const int at = std::clamp(left + width / 2 - labelWidth / 2, area.left(), area.right() - labelWidth);
            painter.drawText(at, plot.bottom() + line / 6 + metrics.ascent(), label);
        }
    }
}
