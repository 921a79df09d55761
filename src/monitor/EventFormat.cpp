#include "EventFormat.h"

#include "Event.h"
#include "EventFields.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {
// A record is built in one flat buffer and copied out once: appending piece by piece to a
// QByteArray cost more than the rest of the formatting. Nearly every record fits on the stack.
class Text
{
public:
    Text() = default;
    Text(const Text&) = delete;
    Text& operator=(const Text&) = delete;

    void add(char c)
    {
        room(1);
        *m_end++ = c;
    }
    void add(const char* text) { add(text, qsizetype(std::strlen(text))); }
    void add(const char* text, qsizetype size)
    {
        room(size);
        m_end = std::copy_n(text, size, m_end);
    }
    void add(const QByteArray& text) { add(text.constData(), text.size()); }
    // Text known to be ASCII, byte for byte.
    void addAscii(QStringView text)
    {
        room(text.size());
        for (const QChar c : text)
            *m_end++ = char(c.unicode());
    }
    QByteArray bytes() const { return QByteArray(m_begin, m_end - m_begin); }

private:
    void room(qsizetype size)
    {
        if (m_limit - m_end < size)
            grow(size);
    }
    void grow(qsizetype size)
    {
        const qsizetype used = m_end - m_begin;
        std::vector<char> larger(std::size_t(2 * (used + size)));
        std::copy(m_begin, m_end, larger.data());
        m_heap = std::move(larger);
        m_begin = m_heap.data();
        m_end = m_begin + used;
        m_limit = m_begin + m_heap.size();
    }

    char m_stack[512];
    std::vector<char> m_heap;
    char* m_begin = m_stack;
    char* m_end = m_stack;
    char* m_limit = m_stack + sizeof m_stack;
};

// Truth values: ASCII by construction.
void appendAscii(Text& out, QStringView text)
{
    out.addAscii(text);
}

void appendNumber(Text& out, qint64 number)
{
    const EventFields::Digits digits(number);
    out.add(digits.text, digits.size);
}

void appendUtf8(Text& out, QStringView text)
{
    if (QtPrivate::isAscii(text))
        out.addAscii(text);
    else
        out.add(text.toUtf8());
}

// One byte of a JSON string: quotes, backslashes and control characters escaped.
void appendEscaped(Text& out, char c)
{
    switch (c) {
    case '"':
        out.add("\\\"");
        break;
    case '\\':
        out.add("\\\\");
        break;
    case '\n':
        out.add("\\n");
        break;
    case '\r':
        out.add("\\r");
        break;
    case '\t':
        out.add("\\t");
        break;
    default:
        if (static_cast<unsigned char>(c) < 0x20) {
            static const char hex[] = "0123456789abcdef";
            out.add("\\u00");
            out.add(hex[(c >> 4) & 0xf]);
            out.add(hex[c & 0xf]);
        } else {
            out.add(c);
        }
    }
}

void appendJsonString(Text& out, QStringView text)
{
    out.add('"');
    // Addresses, names and numbers as text need no escape: copied at once.
    if (std::all_of(text.cbegin(), text.cend(),
            [](QChar c) { return c.unicode() >= 0x20 && c.unicode() < 0x80 && c != u'"' && c != u'\\'; })) {
        out.addAscii(text);
        out.add('"');
        return;
    }
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].unicode() >= 0x80) { // the rest goes through the general conversion
            for (const char c : text.mid(i).toUtf8())
                appendEscaped(out, c);
            break;
        }
        appendEscaped(out, char(text[i].unicode()));
    }
    out.add('"');
}
} // namespace

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
        line.add(",\"");
        line.add(name);
        line.add("\":");
        if (value.type == EventFields::Type::Number)
            appendNumber(line, value.number);
        else if (value.type == EventFields::Type::Text)
            appendJsonString(line, value.text);
        else
            appendAscii(line, value.text);
    });
    line.add("}\n");
    return line.bytes();
}

QByteArray EventFormat::summary(const Event& event) const
{
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
