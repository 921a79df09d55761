#pragma once

#include "HistoryEntry.h"

#include <QFile>
#include <QString>
#include <QStringList>

// Reads events.jsonl and its rotated files (events.jsonl.1 the newest, up to .n) oldest first,
// as entries for the history, a batch at a time. Bounded: only the newest maxBytes of lines are
// read (an older file that does not fit is read from where they start). A line that is no
// complete JSON object (a cut last line, a torn write) is skipped and counted, as is one longer
// than MaxLine. Lines from atOrAfter on are left out: they belong to the run that imports.
class HistoryImport
{
public:
    static constexpr qint64 MaxLine = 64 * 1024;

    HistoryImport(const QString& folder, qint64 maxBytes, qint64 atOrAfter);

    // The next entries, at most count of them; empty at the end.
    HistoryBatch next(qsizetype count);

    qint64 totalBytes() const { return m_total; }
    qint64 readBytes() const { return m_read; }
    qint64 skippedLines() const { return m_skipped; }

    // One line of events.jsonl as an entry; nothing for a line the history does not keep.
    static std::optional<HistoryEntry> parse(const QByteArray& line, bool* malformed = nullptr);

private:
    struct Part
    {
        QString path;
        qint64 from = 0;
    };
    bool openNext();

    QList<Part> m_parts; // oldest first
    QFile m_file;
    qint64 m_atOrAfter;
    qint64 m_total = 0;
    qint64 m_read = 0;
    qint64 m_skipped = 0;
};
