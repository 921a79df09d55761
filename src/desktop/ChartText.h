#pragma once

#include "HistoryQuery.h"

#include <QList>
#include <QString>
#include <QStringList>

// The charts' numbers in words: each chart's tooltip and its description for screen readers, so
// that what is drawn can also be read and heard.
namespace ChartText {

// "Intrusions per hour, last 24 hours: 14:00 3 (connect 2, udp 1), 15:00 5 (connect 5); none in
// the other 22." Only the bars that hold something are named.
QString stacks(const QString& title, const QStringList& labels, const QList<HistoryCharts::Stack>& stacks);
// "Top 10 ports: 23 120, 80 75." (labels and values in order)
QString ranking(const QString& title, const QStringList& labels, const QList<qint64>& values);
// "Spoofable probes, last 30 days: 40 of 100 (40%)."
QString share(const QString& title, qint64 part, qint64 whole);
// The whole percentage, rounded half up; 0 for an empty whole.
int percent(qint64 part, qint64 whole);

} // namespace ChartText
