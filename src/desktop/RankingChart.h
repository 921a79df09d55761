#pragma once

#include <QList>
#include <QStringList>
#include "ChartWidget.h"

// The largest few of something (sources, ports) as labelled bars, longest first; with share set,
// one bar of a part in its whole instead. Its numbers are its tooltip and its description for
// screen readers.
class RankingChart : public ChartWidget
{
public:
    explicit RankingChart(const QString& title, QWidget* parent = nullptr);

    void setItems(const QStringList& labels, const QList<qint64>& values);
    // One bar: part of whole, named partName and restName in the legend.
    void setShare(qint64 part, qint64 whole, const QString& partName, const QString& restName);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int rows() const;
    void paintShare(QPainter& painter, QRect area);

    QStringList m_labels;
    QList<qint64> m_values;
    bool m_share = false;
    qint64 m_part = 0;
    qint64 m_whole = 0;
    QString m_partName;
    QString m_restName;
};
