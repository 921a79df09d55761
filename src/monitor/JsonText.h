#pragma once

#include "EventFields.h"

#include <QByteArray>
#include <QStringView>

#include <algorithm>
#include <cstring>
#include <vector>

// The pieces both record formats are written with: one flat buffer and JSON text appended to it.
namespace JsonText {

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
    qsizetype size() const { return m_end - m_begin; }
    // Takes back what was added after size() gave length.
    void truncate(qsizetype length) { m_end = m_begin + length; }

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
inline void appendAscii(Text& out, QStringView text)
{
    out.addAscii(text);
}

inline void appendNumber(Text& out, qint64 number)
{
    const EventFields::Digits digits(number);
    out.add(digits.text, digits.size);
}

inline void appendUtf8(Text& out, QStringView text)
{
    if (QtPrivate::isAscii(text))
        out.addAscii(text);
    else
        out.add(text.toUtf8());
}

// One byte of a JSON string: quotes, backslashes and control characters escaped.
inline void appendEscaped(Text& out, char c)
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

inline void appendJsonString(Text& out, QStringView text)
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

// "name":value, the value written as its type says.
inline void appendMember(Text& out, const char* name, const EventFields::Value& value)
{
    out.add('"');
    out.add(name);
    out.add("\":");
    if (value.type == EventFields::Type::Number)
        appendNumber(out, value.number);
    else if (value.type == EventFields::Type::Text)
        appendJsonString(out, value.text);
    else
        appendAscii(out, value.text);
}

} // namespace JsonText
