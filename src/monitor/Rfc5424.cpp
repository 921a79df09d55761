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

bool needsBackslash(char c)
{
    return c == '"' || c == '\\' || c == ']';
}

void appendEscaped(QByteArray& out, QStringView value)
{
    // Written straight into the buffer, sized for a backslash before every character; text
    // beyond ASCII goes through the general conversion instead.
    const qsizetype start = out.size();
    out.resize(start + 2 * value.size());
    char* next = out.data() + start;
    for (const QChar c : value) {
        if (c.unicode() >= 0x80) {
            out.truncate(start);
            for (const char byte : value.toUtf8()) {
                if (needsBackslash(byte))
                    out += '\\';
                out += byte;
            }
            return;
        }
        const char ascii = char(c.unicode());
        if (needsBackslash(ascii))
            *next++ = '\\';
        *next++ = ascii;
    }
    out.truncate(next - out.constData());
}
} // namespace

int severity(const Event& event)
{
    switch (event.kind) {
    case Event::Kind::Intrusion:
    case Event::Kind::PortScan:
    case Event::Kind::Flood:
        return 4;
    case Event::Kind::IncidentEnded:
    case Event::Kind::MonitoringStarted:
    case Event::Kind::MonitoringStopped:
    case Event::Kind::PortUnguarded:
    case Event::Kind::NetworkChanged:
    case Event::Kind::Blocked:
    case Event::Kind::Unblocked:
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
    return message(event, format, facility, pid, format.summary(event));
}

QByteArray message(
    const Event& event, const EventFormat& format, int facility, qint64 pid, const QByteArray& summary)
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
    EventFields::visit(event, [&out](const char* name, const EventFields::Value& value) {
        out += ' ';
        out += name;
        out += "=\"";
        if (value.type == EventFields::Type::Number) {
            const EventFields::Digits digits(value.number);
            out.append(digits.text, digits.size);
        } else {
            appendEscaped(out, value.text);
        }
        out += '"';
    });
    out += "] ";
    out += summary;
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
