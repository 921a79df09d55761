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
    line += "{\"time\":\"" + timestamp(event.time) + "\",\"seq\":" + QByteArray::number(event.sequence)
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
