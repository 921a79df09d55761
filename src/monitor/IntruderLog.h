#pragma once

#include "EndOfPass.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

#include <limits>
#include <sys/types.h>
#include <vector>

class StatusReporter;
struct IntruderRecord;

// "Log.txt" in the program folder: one five-line entry per intrusion, appended and never rewritten.
//
// Entries are collected and appended together at the end of the event-loop pass that made them,
// and never later than MaxDelayMs after the first of them: a flood of intrusions then costs one
// write per pass instead of per intrusion. Every append looks the file up by name, so a log
// deleted in between (Purge, or by hand) is started anew rather than growing unseen, and each
// append is a single write, so a killed program leaves whole entries behind.
//
// The file only ever holds whole entries: a write cut short (a full disk) is taken back to the end
// of the last entry that fit. The entries that did not fit are counted, and once writing works
// again one status line says how many were lost, as for "events.jsonl".
class IntruderLog
{
public:
    static constexpr int MaxDelayMs = 50;
    // Beyond this many queued bytes the entries are appended at once.
    static constexpr qsizetype MaxPendingBytes = 256 * 1024;

    IntruderLog();
    ~IntruderLog();
    IntruderLog(const IntruderLog&) = delete;
    IntruderLog& operator=(const IntruderLog&) = delete;

    static QString fileName() { return QStringLiteral("Log.txt"); }

    // Where the count of lost entries is reported, once writing works again; nullptr for nowhere.
    void reportLossesTo(StatusReporter* status) { m_status = status; }

    // Queues the entry for the log in folder (the program folder, with or without a trailing
    // separator), stamped with the local time at msecsSinceEpoch.
    void writeLogEntry(const QString& folder, const IntruderRecord& intruder, qint64 msecsSinceEpoch);

    // Appends the queued entries now. False when some could not be written: only those are lost;
    // what the file took stays, and later entries try again.
    bool flush();
    // Drops the queued entries and deletes the log, as if they had reached it before it went.
    bool purge(const QString& folder);
    bool hasPending() const { return !m_pending.isEmpty(); }

    // One entry's bytes: an empty line first, every line ended by CR LF, in UTF-8.
    QByteArray entry(const IntruderRecord& intruder, qint64 msecsSinceEpoch);

private:
    void appendEntry(QByteArray& out, const IntruderRecord& intruder, qint64 msecsSinceEpoch);
    const QByteArray& stamp(qint64 msecsSinceEpoch);
    void useFolder(const QString& folder);
    // The log open for appending, and its size now; false when it cannot be opened.
    bool openLog(off_t* size);
    void closeLog();

    StatusReporter* m_status = nullptr;
    QByteArray m_pending;
    std::vector<qsizetype> m_entryEnds; // where each entry in m_pending ends
    quint64 m_lostUnreported = 0;
    QString m_folder;
    QByteArray m_path; // the log in m_folder, as the file system spells it
    int m_fd = -1;
    dev_t m_device = 0;
    ino_t m_inode = 0;
    EndOfPass m_flushSoon;
    QElapsedTimer m_sinceFirstPending;

    // Writing the local time zone's name costs more than the whole rest of an entry; a scan logs
    // thousands of entries within the same second.
    qint64 m_stampSecond = std::numeric_limits<qint64>::min();
    QByteArray m_stamp;
};
