#include "EventFormat.h"

#include "Event.h"
#include "EventFields.h"

#include <cstdlib>

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
    QByteArray out;
    out.reserve(m_beforeMs.size() + 3 + m_afterMs.size());
    out += m_beforeMs;
    out += char('0' + ms / 100);
    out += char('0' + ms / 10 % 10);
    out += char('0' + ms % 10);
    out += m_afterMs;
    return out;
}

QByteArray EventFormat::jsonString(const QString& text)
{
    QByteArray out;
    out.reserve(text.size() + 2);
    out += '"';
    for (const char c : text.toUtf8()) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                static const char hex[] = "0123456789abcdef";
                out += "\\u00";
                out += hex[(c >> 4) & 0xf];
                out += hex[c & 0xf];
            } else {
                out += c;
            }
        }
    }
    out += '"';
    return out;
}

QByteArray EventFormat::jsonLine(const Event& event) const
{
    QByteArray line;
    line.reserve(192);
    line += "{\"time\":\"" + timeText(event.time) + "\",\"seq\":" + QByteArray::number(event.sequence)
        + ",\"event\":\"" + Event::kindName(event.kind) + "\",\"host\":" + jsonString(m_host);
    EventFields::visit(event, [&line](const char* name, EventFields::Type type, const QString& value) {
        line += ",\"";
        line += name;
        line += "\":";
        line += type == EventFields::Type::Text ? jsonString(value) : value.toLatin1();
    });
    line += "}\n";
    return line;
}

QByteArray EventFormat::summary(const Event& event) const
{
    QByteArray text = QByteArray("event=") + Event::kindName(event.kind);
    EventFields::visit(event, [&text](const char* name, EventFields::Type, const QString& value) {
        text += ' ';
        text += name;
        text += '=';
        const bool plain = !value.isEmpty() && std::none_of(value.cbegin(), value.cend(), [](QChar c) {
            return c.isSpace() || c == QLatin1Char('"') || c == QLatin1Char('\\') || c.unicode() < 0x20;
        });
        text += plain ? value.toUtf8() : jsonString(value);
    });
    return text;
}
