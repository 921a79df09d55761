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

    // folder: the program folder, with or without a trailing separator.
    explicit IntruderLog(const QString& folder);

    // Appends the entry; false when the file could not be opened or written completely.
    bool writeLogEntry(const IntruderRecord& intruder, const QDateTime& when) const;

    // The entry's bytes: an empty line first, every line ended by CR LF, in UTF-8.
    static QByteArray entry(const IntruderRecord& intruder, const QDateTime& when);

    QString filePath() const { return m_filePath; }

private:
    QString m_filePath;
};
