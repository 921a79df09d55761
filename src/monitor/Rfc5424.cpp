#include "Rfc5424.h"

#include "Event.h"
#include "EventFields.h"
#include "EventFormat.h"

namespace Rfc5424 {

namespace {
QByteArray header(
    int priority, const QByteArray& timestamp, const EventFormat& format, qint64 pid, const char* msgId)
{
    return '<' + QByteArray::number(priority) + ">1 " + timestamp + ' ' + headerField(format.host(), 255)
        + ' ' + AppName + ' ' + QByteArray::number(pid) + ' ' + msgId + ' ';
}
} // namespace

int severity(const Event& event)
{
    switch (event.kind) {
    case Event::Kind::Intrusion:
        return 4;
    case Event::Kind::IncidentEnded:
    case Event::Kind::MonitoringStarted:
    case Event::Kind::MonitoringStopped:
    case Event::Kind::PortUnguarded:
    case Event::Kind::NetworkChanged:
        return 5;
    case Event::Kind::ProgramStarted:
    case Event::Kind::ProgramExited:
    case Event::Kind::Allowed:
        return 6;
    }
    return 6;
}

QByteArray message(const Event& event, const EventFormat& format, int facility, qint64 pid)
{
    QByteArray out = header(facility * 8 + severity(event), format.timeText(event.time), format, pid,
        Event::kindName(event.kind));
    out += '[';
    out += SdId;
    out += " seq=\"" + QByteArray::number(event.sequence) + '"';
    EventFields::visit(event, [&out](const char* name, EventFields::Type, const QString& value) {
        out += ' ';
        out += name;
        out += "=\"";
        out += escapeParamValue(value);
        out += '"';
    });
    out += "] ";
    out += format.summary(event);
    return out;
}

QByteArray droppedMessage(
    quint64 dropped, const QByteArray& timestamp, const EventFormat& format, int facility, qint64 pid)
{
    const QByteArray count = QByteArray::number(dropped);
    return header(facility * 8 + 4, timestamp, format, pid, "events_dropped") + '[' + SdId + " dropped=\""
        + count + "\"] event=events_dropped dropped=" + count;
}

QByteArray escapeParamValue(const QString& value)
{
    const QByteArray utf8 = value.toUtf8();
    QByteArray out;
    out.reserve(utf8.size());
    for (const char c : utf8) {
        if (c == '"' || c == '\\' || c == ']')
            out += '\\';
        out += c;
    }
    return out;
}

QByteArray headerField(const QString& value, int maxLength)
{
    QByteArray out;
    for (const QChar c : value) {
        if (out.size() == maxLength)
            break;
        if (c.unicode() > 32 && c.unicode() < 127)
            out += char(c.unicode());
    }
    return out.isEmpty() ? QByteArray("-") : out;
}

QByteArray octetCounted(const QByteArray& message)
{
    return QByteArray::number(message.size()) + ' ' + message;
}

} // namespace Rfc5424
