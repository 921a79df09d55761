#include "IntruderLog.h"

#include "IntruderRecord.h"

#include <QDir>
#include <QFile>
#include <QLocale>

IntruderLog::IntruderLog(const QString& folder)
    : m_filePath(QDir(folder).filePath(fileName()))
{
}

bool IntruderLog::writeLogEntry(const IntruderRecord& intruder, const QDateTime& when) const
{
    QFile file(m_filePath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    const QByteArray bytes = entry(intruder, when);
    const bool written = file.write(bytes) == bytes.size();
    // A full disk shows up only when the buffered bytes are flushed.
    return file.flush() && written;
}

QByteArray IntruderLog::entry(const IntruderRecord& intruder, const QDateTime& when)
{
    // The user's general date: short date, one blank, long time.
    const QLocale locale = QLocale::system();
    // Formatted from the date-time, not the bare time, so a zone in the time format is filled in.
    const QString stamp = locale.toString(when.date(), QLocale::ShortFormat) + QLatin1Char(' ')
        + locale.toString(when, locale.timeFormat(QLocale::LongFormat));
    const QString text = QStringLiteral("\r\n") + QStringLiteral("Intruder Information - ") + stamp
        + QStringLiteral("\r\n") + QStringLiteral("IP: ") + intruder.intruderIP + QStringLiteral("\r\n")
        + QStringLiteral("Attacked Port: ") + QString::number(intruder.attackedPort) + QStringLiteral("\r\n")
        + QStringLiteral("Message: ") + intruder.intruderMessage + QStringLiteral("\r\n");
    return text.toUtf8();
}
