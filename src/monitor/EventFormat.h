#pragma once

#include "Settings.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <ctime>

struct Event;

// The two text forms of an event shared by the outputs: a JSON object on one line, and a line of
// name=value pairs for system logs. Both use the same field names, which the README documents.
// In the "ecs" format both are the Elastic Common Schema record instead, with or without its line
// end, so that every output carries what a SIEM reads without a parser of its own.
class EventFormat
{
public:
    // host: the machine's name as the JSON "host" field.
    explicit EventFormat(QString host);

    // One JSON object and a line feed.
    QByteArray jsonLine(const Event& event) const;
    // "event=intrusion address=192.0.2.7 ..." without a line end; values with blanks, quotes or
    // backslashes are quoted and escaped.
    QByteArray summary(const Event& event) const;

    const QString& host() const { return m_host; }
    void setFormat(Settings::Events::Format format);
    Settings::Events::Format format() const { return m_format; }

    // RFC 3339 local time with milliseconds and the offset from UTC.
    static QByteArray timestamp(const QDateTime& time);
    // The same text, formatted once per second: a burst of events shares all but the milliseconds.
    QByteArray timeText(const QDateTime& time) const;
    static QByteArray jsonString(const QString& text);

private:
    QByteArray ecsLine(const Event& event, bool lineEnd) const;

    QString m_host;
    Settings::Events::Format m_format = Settings::Events::Format::Sentrel;
    QByteArray m_ecsFixed; // the fields every ECS record shares

    // The latest second formatted, split around its milliseconds. The offset of a local time is
    // only worked out when formatting, so a copy is trusted for a second of real time at most: the
    // same local second an hour later (clocks turned back) may have another offset.
    mutable qint64 m_second = -1;
    mutable Qt::TimeSpec m_spec = Qt::LocalTime;
    mutable int m_offset = 0;
    mutable std::time_t m_formattedAt = 0;
    mutable QByteArray m_beforeMs;
    mutable QByteArray m_afterMs;
};
