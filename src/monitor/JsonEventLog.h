#pragma once

#include "EndOfPass.h"

#include <QByteArray>
#include <QFile>
#include <QObject>

class StatusReporter;

// "events.jsonl": one JSON object per line, appended to a file that stays open. Lines gather in
// memory and go to the file once per pass of the event loop, so a burst of intrusions costs one
// write, not one open and write each. The file is rotated by size, keeping a number of older
// files as events.jsonl.1 (the newest) and up.
//
// Writing can fail (a full disk, a file made unwritable): the lines that did not make it are
// counted and dropped, never retried, and once a write works again one status line says how many
// were lost. The alarm goes on either way.
class JsonEventLog : public QObject
{
    Q_OBJECT

public:
    static QString fileName() { return QStringLiteral("events.jsonl"); }

    explicit JsonEventLog(StatusReporter& status, QObject* parent = nullptr);
    ~JsonEventLog() override;

    // Starts writing in folder; maxBytes and keptFiles bound the rotation.
    void open(const QString& folder, qint64 maxBytes, int keptFiles);
    // Writes what is pending and stops.
    void close();
    bool isOpen() const { return !m_path.isEmpty(); }

    // line: one complete line, sequence: the event's number.
    void append(const QByteArray& line, quint64 sequence);
    // Writes the pending lines now.
    void flush();

    // The last event known to be in the file.
    quint64 writtenThrough() const { return m_writtenThrough; }
    quint64 lostTotal() const { return m_lostTotal; }

private:
    // The file open for appending, and its size now.
    bool ensureOpen(qint64* size);
    void rotate();
    void lose(qsizetype lines);

    StatusReporter& m_status;
    QString m_path;
    qint64 m_maxBytes = 0;
    int m_keptFiles = 0;
    QFile m_file;
    QByteArray m_pending;
    qsizetype m_pendingLines = 0;
    quint64 m_pendingThrough = 0;
    quint64 m_writtenThrough = 0;
    quint64 m_lostTotal = 0;
    quint64 m_lostUnreported = 0;
    EndOfPass m_flushSoon;
};
