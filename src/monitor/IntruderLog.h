#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

struct IntruderRecord;

// "Log.txt" in the program folder: one five-line entry per intrusion, appended and never
// rewritten. Each entry is opened, written and closed on its own, so the user can view or
// delete the file between intrusions.
class IntruderLog
{
public:
    static QString fileName() { return QStringLiteral("Log.txt"); }

    // Appends the entry to the log in folder (the program folder, with or without a trailing
    // separator); false when the file could not be opened or written completely.
    bool writeLogEntry(const QString& folder, const IntruderRecord& intruder, const QDateTime& when);

    // The entry's bytes: an empty line first, every line ended by CR LF, in UTF-8.
    QByteArray entry(const IntruderRecord& intruder, const QDateTime& when);

private:
    QString stamp(const QDateTime& when);

    // Writing the local time zone's name costs more than the file write itself; a scan logs
    // thousands of entries within the same second.
    qint64 m_stampSecond = -1;
    QString m_stamp;
};
