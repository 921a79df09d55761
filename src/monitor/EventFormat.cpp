#include "EventFormat.h"

#include "EcsRecord.h"
#include "Event.h"
#include "EventFields.h"
#include "JsonText.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdlib>

using namespace JsonText;

EventFormat::EventFormat(QString host)
    : m_host(std::move(host))
{
}

QByteArray EventFormat::timestamp(const QDateTime& time)
{
    // The offset written out, so that UTC reads "+00:00" like every other zone rather than "Z"
    // (Qt writes an offset of zero as "Z").
    const int offset = time.offsetFromUtc();
    QByteArray text = time.toOffsetFromUtc(offset).toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss.zzz")).toLatin1();
    const int minutes = std::abs(offset) / 60;
    text += offset < 0 ? '-' : '+';
    text += QByteArray::number(minutes / 60).rightJustified(2, '0') + ':'
        + QByteArray::number(minutes % 60).rightJustified(2, '0');
    return text;
}

QByteArray EventFormat::timeText(const QDateTime& time) const
{
    if (!time.isValid())
        return timestamp(time);
    const QDate date = time.date();
    const QTime clock = time.time();
    const qint64 second = date.toJulianDay() * 86400 + clock.msecsSinceStartOfDay() / 1000;
    const Qt::TimeSpec spec = time.timeSpec();
    const int offset = spec == Qt::LocalTime ? 0 : time.offsetFromUtc();
    const std::time_t now = std::time(nullptr);
    if (second != m_second || spec != m_spec || offset != m_offset || std::abs(now - m_formattedAt) > 1) {
        const QByteArray text = timestamp(time);
        const qsizetype dot = text.indexOf('.');
        m_beforeMs = text.left(dot + 1);
        m_afterMs = text.mid(dot + 4);
        m_second = second;
        m_spec = spec;
        m_offset = offset;
        m_formattedAt = now;
    }
    const int ms = clock.msec();
    QByteArray out(m_beforeMs.size() + 3 + m_afterMs.size(), Qt::Uninitialized);
    char* next = std::copy(m_beforeMs.cbegin(), m_beforeMs.cend(), out.data());
    *next++ = char('0' + ms / 100);
    *next++ = char('0' + ms / 10 % 10);
    *next++ = char('0' + ms % 10);
    std::copy(m_afterMs.cbegin(), m_afterMs.cend(), next);
    return out;
}

QByteArray EventFormat::jsonString(const QString& text)
{
    Text out;
    appendJsonString(out, text);
    return out.bytes();
}

QByteArray EventFormat::jsonLine(const Event& event) const
{
    if (m_format == Settings::Events::Format::Ecs)
        return ecsLine(event, true);
    Text line;
    line.add("{\"time\":\"");
    line.add(timeText(event.time));
    line.add("\",\"seq\":");
    appendNumber(line, qint64(event.sequence));
    line.add(",\"event\":\"");
    line.add(Event::kindName(event.kind));
    line.add("\",\"host\":");
    appendJsonString(line, m_host);
    EventFields::visit(event, [&line](const char* name, const EventFields::Value& value) {
        line.add(',');
        appendMember(line, name, value);
    });
    line.add("}\n");
    return line.bytes();
}

QByteArray EventFormat::summary(const Event& event) const
{
    if (m_format == Settings::Events::Format::Ecs)
        return ecsLine(event, false);
    Text text;
    text.add("event=");
    text.add(Event::kindName(event.kind));
    EventFields::visit(event, [&text](const char* name, const EventFields::Value& field) {
        text.add(' ');
        text.add(name);
        text.add('=');
        if (field.type == EventFields::Type::Number) {
            appendNumber(text, field.number);
            return;
        }
        const QStringView value = field.text;
        const bool plain = !value.isEmpty() && std::none_of(value.cbegin(), value.cend(), [](QChar c) {
            const char16_t u = c.unicode();
            return u < 0x80 ? u <= 0x20 || u == u'"' || u == u'\\' : c.isSpace();
        });
        if (plain)
            appendUtf8(text, value);
        else
            appendJsonString(text, value);
    });
    return text.bytes();
}

void EventFormat::setFormat(Settings::Events::Format format)
{
    m_format = format;
    if (format == Settings::Events::Format::Ecs)
        m_ecsFixed = EcsRecord::fixedFields(m_host, QCoreApplication::applicationVersion());
}

QByteArray EventFormat::ecsLine(const Event& event, bool lineEnd) const
{
    Text line;
    EcsRecord::write(line, event, timeText(event.time), m_ecsFixed);
    if (lineEnd)
        line.add('\n');
    return line.bytes();
}
