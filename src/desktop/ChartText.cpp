#include "ChartText.h"

namespace ChartText {

QString stacks(const QString& title, const QStringList& labels, const QList<HistoryCharts::Stack>& stacks)
{
    QStringList bars;
    for (qsizetype i = 0; i < stacks.size(); ++i) {
        qint64 total = 0;
        QStringList kinds;
        for (std::size_t kind = 0; kind < HistoryKinds::Names.size(); ++kind) {
            if (const qint64 count = stacks[i][kind]; count > 0) {
                total += count;
                kinds << QLatin1String(HistoryKinds::Names[kind]) + QLatin1Char(' ') + QString::number(count);
            }
        }
        if (total > 0)
            bars << QStringLiteral("%1 %2 (%3)").arg(labels.value(i)).arg(total).arg(kinds.join(QLatin1String(", ")));
    }
    if (bars.isEmpty())
        return title + QStringLiteral(": none.");
    const qsizetype empty = stacks.size() - bars.size();
    return title + QStringLiteral(": ") + bars.join(QLatin1String(", "))
        + (empty > 0 ? QStringLiteral("; none in the other %1.").arg(empty) : QStringLiteral("."));
}

QString ranking(const QString& title, const QStringList& labels, const QList<qint64>& values)
{
    QStringList items;
    for (qsizetype i = 0; i < values.size(); ++i)
        items << labels.value(i) + QLatin1Char(' ') + QString::number(values[i]);
    return title + QStringLiteral(": ") + (items.isEmpty() ? QStringLiteral("none") : items.join(QLatin1String(", ")))
        + QLatin1Char('.');
}

int percent(qint64 part, qint64 whole)
{
    return whole > 0 ? int((part * 200 + whole) / (2 * whole)) : 0;
}

QString share(const QString& title, qint64 part, qint64 whole)
{
    return QStringLiteral("%1: %2 of %3 (%4%).").arg(title).arg(part).arg(whole).arg(percent(part, whole));
}

} // namespace ChartText
