#include "EcsRecord.h"

#include "Event.h"
#include "EventFields.h"
#include "EventFormat.h"
#include "Rfc5424.h"

#include <cstring>

using namespace JsonText;

namespace EcsRecord {

namespace {
constexpr auto IdsAndNetwork = R"(["intrusion_detection","network"])";

// event.kind, event.category and event.type: each type one the field reference expects for
// every category it goes with.
struct Categories
{
    const char* kind;
    const char* category;
    const char* type;
};

Categories categoriesOf(const Event& event)
{
    const bool connection = event.detection == Event::Detection::Connect;
    switch (event.kind) {
    case Event::Kind::Intrusion:
        return { "alert", IdsAndNetwork, connection ? R"(["connection","denied"])" : R"(["denied"])" };
    case Event::Kind::Allowed:
        return { "event", IdsAndNetwork, connection ? R"(["allowed","connection"])" : R"(["allowed"])" };
    case Event::Kind::PortScan:
        return { event.scanEnded ? "event" : "alert", IdsAndNetwork, R"(["info"])" };
    case Event::Kind::Flood:
        return { "alert", IdsAndNetwork, R"(["denied"])" };
    case Event::Kind::IncidentEnded:
        return { "event", IdsAndNetwork, R"(["info"])" };
    case Event::Kind::Blocked:
        return { "event", R"(["network"])", R"(["denied"])" };
    case Event::Kind::Unblocked:
        return { "event", R"(["network"])", R"(["info"])" };
    case Event::Kind::PortUnguarded:
        return { "event", R"(["configuration"])", R"(["info"])" };
    case Event::Kind::MonitoringStarted:
    case Event::Kind::MonitoringStopped:
        return { "event", R"(["configuration"])", R"(["change"])" };
    case Event::Kind::NetworkChanged:
        return { "event", R"(["host"])", R"(["change"])" };
    case Event::Kind::ProgramStarted:
        return { "event", R"(["process"])", R"(["start"])" };
    case Event::Kind::ProgramExited:
        return { "event", R"(["process"])", R"(["end"])" };
    }
    return { "event", R"(["host"])", R"(["info"])" };
}

// network.transport where the detection tells it; nullptr where it does not (a fragment, a scan
// of either protocol).
const char* transportOf(const Event& event)
{
    switch (event.kind) {
    case Event::Kind::Intrusion:
    case Event::Kind::Allowed:
        if (event.detection == Event::Detection::Fragment)
            return nullptr;
        return event.detection == Event::Detection::Udp ? "udp" : "tcp";
    case Event::Kind::Flood:
        if (std::strcmp(event.folded, "udp") == 0)
            return "udp";
        for (const char* tcp : { "half_open", "fin", "null", "xmas" }) {
            if (std::strcmp(event.folded, tcp) == 0)
                return "tcp";
        }
        return nullptr;
    default:
        return nullptr;
    }
}

// Port 0 is what a record without a port holds (a fragment may not tell one): left out.
bool hasPorts(const Event& event)
{
    return (event.kind == Event::Kind::Intrusion || event.kind == Event::Kind::Allowed
               || event.kind == Event::Kind::Flood)
        && event.port > 0;
}

// rule.name: the detection that fired.
const char* ruleOf(const Event& event)
{
    switch (event.kind) {
    case Event::Kind::Intrusion:
        return event.sentinel ? "random_port_sentinel" : "tripwire";
    case Event::Kind::PortScan:
        return "port_scan";
    case Event::Kind::Flood:
        return "flood";
    default:
        return nullptr;
    }
}

void addNumber(Text& out, const char* name, qint64 number)
{
    out.add(name);
    appendNumber(out, number);
}
} // namespace

QByteArray fixedFields(const QString& host, const QString& programVersion)
{
    Text out;
    out.add(R"(,"ecs":{"version":")");
    out.add(Version);
    out.add(R"("},"host":{"name":)");
    appendJsonString(out, host);
    out.add(R"(},"observer":{"hostname":)");
    appendJsonString(out, host);
    out.add(R"(,"product":"Sentrel","type":"ids")");
    if (!programVersion.isEmpty()) {
        out.add(R"(,"version":)");
        appendJsonString(out, programVersion);
    }
    out.add('}');
    return out.bytes();
}

void write(Text& out, const Event& event, const QByteArray& timestamp, const QByteArray& fixed)
{
    const Categories categories = categoriesOf(event);
    out.add(R"({"@timestamp":")");
    out.add(timestamp);
    out.add(R"(","event":{"kind":")");
    out.add(categories.kind);
    out.add(R"(","category":)");
    out.add(categories.category);
    out.add(R"(,"type":)");
    out.add(categories.type);
    out.add(R"(,"action":")");
    out.add(Event::kindName(event.kind));
    addNumber(out, R"(","sequence":)", qint64(event.sequence));
    addNumber(out, R"(,"severity":)", Rfc5424::severity(event));
    if (event.kind == Event::Kind::IncidentEnded) {
        out.add(R"(,"start":")");
        out.add(EventFormat::timestamp(event.first));
        out.add(R"(","end":")");
        out.add(EventFormat::timestamp(event.last));
        out.add('"');
    }
    out.add('}');
    out.add(fixed);

    const bool network = !event.address.isEmpty() && event.kind != Event::Kind::PortUnguarded;
    if (network) {
        // A link-local address's zone ("%eth0") is no part of an ip field's value.
        const QStringView address = QStringView(event.address).left(event.address.indexOf(u'%'));
        out.add(R"(,"source":{"ip":)");
        appendJsonString(out, address);
        if (hasPorts(event))
            addNumber(out, R"(,"port":)", event.sourcePort);
        out.add('}');
        if (hasPorts(event)) {
            addNumber(out, R"(,"destination":{"port":)", event.port);
            out.add('}');
        }
        out.add(R"(,"network":{)");
        if (const char* transport = transportOf(event)) {
            out.add(R"("transport":")");
            out.add(transport);
            out.add(R"(",)");
        }
        out.add(event.isIpv6() ? R"("type":"ipv6")" : R"("type":"ipv4")");
        out.add(R"(,"direction":"ingress"})");
    }
    if (const char* rule = ruleOf(event)) {
        out.add(R"(,"rule":{"name":")");
        out.add(rule);
        out.add(R"("})");
    }
    if (event.kind == Event::Kind::PortScan) {
        out.add(R"(,"threat":{"framework":"MITRE ATT&CK","tactic":{"id":["TA0007"],"name":["Discovery"]},)"
                R"("technique":{"id":["T1046"],"name":["Network Service Discovery"]}})");
    }

    const qsizetype beforeOwn = out.size();
    out.add(R"(,"sentrel":{)");
    const qsizetype firstField = out.size();
    EventFields::visit(event, [&out, firstField](const char* name, const EventFields::Value& value) {
        if (out.size() != firstField)
            out.add(',');
        appendMember(out, name, value);
    });
    if (out.size() == firstField)
        out.truncate(beforeOwn); // no fields of its own: no empty object
    else
        out.add('}');
    out.add('}');
}

} // namespace EcsRecord
