#pragma once

#include "Event.h"
#include "EventFormat.h"

#include <QByteArray>
#include <QString>

#include <charconv>

// The fields of an event beyond its kind and time, in the order every output writes them. A
// value is a number, a truth value or text; the formatter decides how each is written.
namespace EventFields {

enum class Type { Number, Boolean, Text };

// Numbers travel as numbers, so a formatter writes their digits straight into its output instead
// of building a string for each: three outputs times every field of every intrusion added up.
struct Value
{
    Type type;
    QStringView text; // Text and Boolean
    qint64 number = 0; // Number

    static Value ofNumber(qint64 n) { return { Type::Number, {}, n }; }
    static Value ofText(QStringView text) { return { Type::Text, text }; }
    static Value ofBoolean(bool on) { return { Type::Boolean, on ? u"true" : u"false" }; }
};

// The decimal digits of a number, without allocating.
struct Digits
{
    explicit Digits(qint64 n) { size = int(std::to_chars(text, text + sizeof text, n).ptr - text); }
    char text[24];
    int size;
};

// The detection's name without building a string: it goes out with every intrusion.
inline QStringView detectionText(Event::Detection detection)
{
    switch (detection) {
    case Event::Detection::Connect:
        return u"connect";
    case Event::Detection::HalfOpen:
        return u"half_open";
    case Event::Detection::Fin:
        return u"fin";
    case Event::Detection::Null:
        return u"null";
    case Event::Detection::Xmas:
        return u"xmas";
    case Event::Detection::Udp:
        return u"udp";
    case Event::Detection::Fragment:
        return u"fragment";
    }
    return u"connect";
}

template <typename Visit> void visit(const Event& event, Visit&& field)
{
    switch (event.kind) {
    case Event::Kind::Intrusion:
    case Event::Kind::Allowed:
        field("address", Value::ofText(event.address));
        field("family", Value::ofText(event.isIpv6() ? u"ipv6" : u"ipv4"));
        field("source_port", Value::ofNumber(event.sourcePort));
        field("port", Value::ofNumber(event.port));
        field("sentinel", Value::ofBoolean(event.sentinel));
        if (event.incident > 0)
            field("incident", Value::ofNumber(qint64(event.incident)));
        field("detection", Value::ofText(detectionText(event.detection)));
        field("spoofable", Value::ofBoolean(Event::isSpoofable(event.detection)));
        break;
    case Event::Kind::PortScan:
        field("address", Value::ofText(event.address));
        field("family", Value::ofText(event.isIpv6() ? u"ipv6" : u"ipv4"));
        field("state", Value::ofText(event.scanEnded ? u"ended" : u"started"));
        if (event.incident > 0)
            field("incident", Value::ofNumber(qint64(event.incident)));
        field("port_count", Value::ofNumber(event.count));
        field("ports", Value::ofText(event.ports));
        field("spoofable", Value::ofBoolean(event.spoofable));
        break;
    case Event::Kind::IncidentEnded:
        field("incident", Value::ofNumber(qint64(event.incident)));
        field("address", Value::ofText(event.address));
        field("first", Value::ofText(QString::fromLatin1(EventFormat::timestamp(event.first))));
        field("last", Value::ofText(QString::fromLatin1(EventFormat::timestamp(event.last))));
        field("ports", Value::ofText(event.ports));
        field("count", Value::ofNumber(event.count));
        break;
    case Event::Kind::PortUnguarded:
        field("entry", Value::ofText(event.entry));
        if (event.port > 0)
            field("port", Value::ofNumber(event.port));
        field("reason", Value::ofText(QString::fromLatin1(Event::reasonName(event.reason))));
        if (event.udp)
            field("protocol", Value::ofText(u"udp"));
        break;
    case Event::Kind::Blocked:
        field("address", Value::ofText(event.address));
        field("family", Value::ofText(event.isIpv6() ? u"ipv6" : u"ipv4"));
        field("seconds", Value::ofNumber(event.seconds));
        field("automatic", Value::ofBoolean(event.automatic));
        break;
    case Event::Kind::Unblocked:
        field("address", Value::ofText(event.address));
        field("family", Value::ofText(event.isIpv6() ? u"ipv6" : u"ipv4"));
        field("cause", Value::ofText(QString::fromLatin1(event.cause)));
        field("attempts", Value::ofNumber(event.count));
        break;
    case Event::Kind::Flood:
        field("detection", Value::ofText(QString::fromLatin1(event.folded)));
        field("probes", Value::ofNumber(event.probes));
        field("sources", Value::ofNumber(event.sources));
        field("address", Value::ofText(event.address));
        field("family", Value::ofText(event.isIpv6() ? u"ipv6" : u"ipv4"));
        field("source_port", Value::ofNumber(event.sourcePort));
        field("port", Value::ofNumber(event.port));
        field("spoofable", Value::ofBoolean(true));
        break;
    case Event::Kind::NetworkChanged:
        field("state", Value::ofText(event.connected ? u"connected" : u"disconnected"));
        break;
    case Event::Kind::ProgramStarted:
        field("version", Value::ofText(event.version));
        field("program_folder", Value::ofText(event.programFolder));
        break;
    case Event::Kind::MonitoringStarted:
    case Event::Kind::MonitoringStopped:
    case Event::Kind::ProgramExited:
        break;
    }
}

} // namespace EventFields
