#pragma once

#include <QString>
#include <QWidget>

class QPainter;

// What every chart of the history shares: a title drawn in bold above it, and its numbers in words
// as its tooltip and its description for screen readers, which a keyboard can reach.
class ChartWidget : public QWidget
{
public:
    explicit ChartWidget(const QString& title, QWidget* parent = nullptr);

protected:
    // The numbers in words, after new numbers came; the chart is drawn again.
    void describe(const QString& text);
    // Draws the title in bold at the top of area; the painter keeps the plain font after it.
    void paintTitle(QPainter& painter, const QRect& area) const;

    const QString m_title;
};
