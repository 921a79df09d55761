#include "Rfc5424.h"

#include "Event.h"
#include "EventFields.h"
#include "EventFormat.h"

namespace Rfc5424 {

namespace {
// HOSTNAME APP-NAME PROCID: the same in every message of a run, so it is built once and again only
// when the host name or the process changes. Messages are built on the one event-loop thread.
const QByteArray& origin(const EventFormat& format, qint64 pid)
{
    static QString host;
    static qint64 builtForPid = -1;
    static QByteArray text;
    if (pid != builtForPid || format.host() != host || text.isEmpty()) {
        host = format.host();
        builtForPid = pid;
        text = headerField(host, 255) + ' ' + AppName + ' ' + QByteArray::number(pid);
    }
    return text;
}

void appendHeader(QByteArray& out, int priority, const QByteArray& timestamp, const EventFormat& format,
    qint64 pid, const char* msgId)
{
    out += '<';
    out += QByteArray::number(priority);
    out += ">1 ";
    out += timestamp;
    out += ' ';
    out += origin(format, pid);
    out += ' ';
    out += msgId;
    out += ' ';
}

void appendEscaped(QByteArray& out, QStringView value)
{
    for (qsizetype i = 0; i < value.size(); ++i) {
        const char16_t c = value[i].unicode();
        if (c >= 0x80) { // the rest goes through the general conversion
            for (const char byte : value.mid(i).toUtf8()) {
                if (byte == '"' || byte == '\\' || byte == ']')
                    out += '\\';
                out += byte;
            }
            return;
        }
        if (c == '"' || c == '\\' || c == ']')
            out += '\\';
        out += char(c);
    }
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
    QByteArray out;
    out.reserve(384);
    appendHeader(out, facility * 8 + severity(event), format.timeText(event.time), format, pid,
        Event::kindName(event.kind));
    out += '[';
    out += SdId;
    out += " seq=\"";
    out += QByteArray::number(event.sequence);
    out += '"';
    EventFields::visit(event, [&out](const char* name, EventFields::Type, const QString& value) {
        out += ' ';
        out += name;
        out += "=\"";
        appendEscaped(out, value);
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
    QByteArray out;
    appendHeader(out, facility * 8 + 4, timestamp, format, pid, "events_dropped");
    return out + '[' + SdId + " dropped=\"" + count + "\"] event=events_dropped dropped=" + count;
}

QByteArray escapeParamValue(const QString& value)
{
    QByteArray out;
    out.reserve(value.size());
    appendEscaped(out, value);
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
