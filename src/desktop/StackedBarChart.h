#pragma once

#include "HistoryQuery.h"

#include <QStringList>
#include "ChartWidget.h"

// Bars over time, each stacked by the kinds of its probes, with a legend of the kinds it shows.
// Measured in the font's units, so that it reads the same at any scale; its numbers are its
// tooltip and its description for screen readers.
class StackedBarChart : public ChartWidget
{
public:
    explicit StackedBarChart(const QString& title, QWidget* parent = nullptr);

    // One label per bar; every labelEvery-th label is written under its bar.
    void setBars(const QStringList& labels, const QList<HistoryCharts::Stack>& stacks, int labelEvery);

    // The colour of a kind (its bit's index), the same in every chart.
    static QColor kindColor(int kind);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QStringList m_labels;
    QList<HistoryCharts::Stack> m_stacks;
    int m_labelEvery = 1;
};
