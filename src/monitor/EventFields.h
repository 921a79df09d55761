#pragma once

#include "Event.h"
#include "EventFormat.h"

#include <QByteArray>
#include <QString>

// The fields of an event beyond its kind and time, in the order every output writes them. A
// value is a number, a truth value or text; the formatter decides how each is written.
namespace EventFields {

enum class Type { Number, Boolean, Text };

template <typename Visit> void visit(const Event& event, Visit&& field)
{
    switch (event.kind) {
    case Event::Kind::Intrusion:
    case Event::Kind::Allowed:
        field("address", Type::Text, event.address);
        field("family", Type::Text, event.isIpv6() ? QStringLiteral("ipv6") : QStringLiteral("ipv4"));
        field("source_port", Type::Number, QString::number(event.sourcePort));
        field("port", Type::Number, QString::number(event.port));
        field("sentinel", Type::Boolean, event.sentinel ? QStringLiteral("true") : QStringLiteral("false"));
        if (event.incident > 0)
            field("incident", Type::Number, QString::number(event.incident));
        break;
    case Event::Kind::IncidentEnded:
        field("incident", Type::Number, QString::number(event.incident));
        field("address", Type::Text, event.address);
        field("first", Type::Text, QString::fromLatin1(EventFormat::timestamp(event.first)));
        field("last", Type::Text, QString::fromLatin1(EventFormat::timestamp(event.last)));
        field("ports", Type::Text, event.ports);
        field("count", Type::Number, QString::number(event.count));
        break;
    case Event::Kind::PortUnguarded:
        field("entry", Type::Text, event.entry);
        if (event.port > 0)
            field("port", Type::Number, QString::number(event.port));
        field("reason", Type::Text, QString::fromLatin1(Event::reasonName(event.reason)));
        break;
    case Event::Kind::NetworkChanged:
        field("state", Type::Text,
            event.connected ? QStringLiteral("connected") : QStringLiteral("disconnected"));
        break;
    case Event::Kind::ProgramStarted:
        field("version", Type::Text, event.version);
        field("program_folder", Type::Text, event.programFolder);
        break;
    case Event::Kind::MonitoringStarted:
    case Event::Kind::MonitoringStopped:
    case Event::Kind::ProgramExited:
        break;
    }
}

} // namespace EventFields
