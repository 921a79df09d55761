#include "IntruderLog.h"

#include "IntruderRecord.h"

#include <QDir>
#include <QFile>
#include <QLocale>

bool IntruderLog::writeLogEntry(const QString& folder, const IntruderRecord& intruder, const QDateTime& when)
{
    QFile file(QDir(folder).filePath(fileName()));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    const QByteArray bytes = entry(intruder, when);
    const bool written = file.write(bytes) == bytes.size();
    // A full disk shows up only when the buffered bytes are flushed.
    return file.flush() && written;
}

QByteArray IntruderLog::entry(const IntruderRecord& intruder, const QDateTime& when)
{
    const QString text = QStringLiteral("\r\n") + QStringLiteral("Intruder Information - ") + stamp(when)
        + QStringLiteral("\r\n") + QStringLiteral("IP: ") + intruder.intruderIP + QStringLiteral("\r\n")
        + QStringLiteral("Attacked Port: ") + QString::number(intruder.attackedPort) + QStringLiteral("\r\n")
        + QStringLiteral("Message: ") + intruder.intruderMessage + QStringLiteral("\r\n");
    return text.toUtf8();
}

QString IntruderLog::stamp(const QDateTime& when)
{
    const qint64 second = when.toSecsSinceEpoch();
    if (second != m_stampSecond) {
        // The user's general date: short date, one blank, long time. The time is formatted from
        // the date-time, not the bare time, so a zone in the time format is filled in.
        const QLocale locale = QLocale::system();
        m_stamp = locale.toString(when.date(), QLocale::ShortFormat) + QLatin1Char(' ')
            + locale.toString(when, locale.timeFormat(QLocale::LongFormat));
        m_stampSecond = second;
    }
    return m_stamp;
}
