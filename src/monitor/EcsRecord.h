#pragma once

#include "JsonText.h"

#include <QByteArray>
#include <QString>

struct Event;

// An event as an Elastic Common Schema record (field names, types and categorization values as
// the ECS 8.11 field reference has them), so that a SIEM files it without a parser of its own:
// what an intruder did is an "alert" with its source, the guarded port and the rule that fired;
// the program's own records are plain "event"s. Every field of the program's own format follows
// under "sentrel", so nothing is lost to a reader that knows it.
namespace EcsRecord {

inline constexpr auto Version = "8.11.0";

// ,"ecs":{...},"host":{...},"observer":{...}: the same in every record of a run, built once.
QByteArray fixedFields(const QString& host, const QString& programVersion);
// The record as one JSON object, without a line end; timestamp: RFC 3339 with its offset.
void write(JsonText::Text& out, const Event& event, const QByteArray& timestamp, const QByteArray& fixed);

} // namespace EcsRecord
