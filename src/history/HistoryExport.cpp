#include "HistoryExport.h"

#include <QDateTime>
#include <QIODevice>

#include <cstdlib>

namespace HistoryExport {
namespace {
QByteArray csvField(const QString& text)
{
    QByteArray bytes = text.toUtf8();
    if (bytes.contains(',') || bytes.contains('"') || bytes.contains('\n') || bytes.contains('\r'))
        bytes = '"' + bytes.replace('"', "\"\"") + '"';
    return bytes;
}

// Owner names come from a database the program does not control: every control character escaped.
QByteArray jsonString(const QString& text)
{
    QByteArray out = "\"";
    for (const char c : text.toUtf8()) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            out += "\\u00" + QByteArray::number(c, 16).rightJustified(2, '0');
        } else {
            out += c;
        }
    }
    return out + '"';
}

const char* family(const HistoryIncident& incident)
{
    return incident.addressText.contains(u':') ? "ipv6" : "ipv4";
}
} // namespace

const char* stateName(HistoryState state)
{
    switch (state) {
    case HistoryState::Alarm:
        return "alarm";
    case HistoryState::Blocked:
        return "blocked";
    case HistoryState::Allowed:
        return "allowed";
    }
    return "alarm";
}

QByteArray timestamp(qint64 msSinceEpoch, int utcOffset)
{
    const QDateTime time = QDateTime::fromMSecsSinceEpoch(msSinceEpoch, Qt::OffsetFromUTC, utcOffset);
    QByteArray text = time.toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss.zzz")).toLatin1();
    const int minutes = std::abs(utcOffset) / 60;
    text += utcOffset < 0 ? '-' : '+';
    text += QByteArray::number(minutes / 60).rightJustified(2, '0') + ':'
        + QByteArray::number(minutes % 60).rightJustified(2, '0');
    return text;
}

QByteArray csvHeader()
{
    return "incident,first,last,address,family,country,asn,owner,ports,detection,count,sources,spoofable,"
           "state\r\n";
}

QByteArray csvLine(const HistoryIncident& incident)
{
    QByteArray line = QByteArray::number(incident.id);
    line += ',' + timestamp(incident.first, incident.utcOffset);
    line += ',' + timestamp(incident.last, incident.utcOffset);
    line += ',' + csvField(incident.addressText);
    line += ',';
    line += family(incident);
    line += ',' + csvField(incident.country);
    line += ',' + (incident.asn ? QByteArray::number(incident.asn) : QByteArray());
    line += ',' + csvField(incident.owner);
    line += ',' + csvField(incident.ports);
    line += ',' + csvField(HistoryFilter::kindNames(incident.kinds));
    line += ',' + QByteArray::number(incident.count);
    line += ',' + QByteArray::number(incident.sources);
    line += incident.spoofable ? ",true," : ",false,";
    line += stateName(incident.state);
    return line + "\r\n";
}

QByteArray jsonLine(const HistoryIncident& incident)
{
    // Field order as the event log writes an incident_ended record, then the history's own.
    QByteArray line
        = "{\"time\":" + jsonString(QString::fromLatin1(timestamp(incident.last, incident.utcOffset)));
    line += ",\"event\":\"incident_ended\",\"incident\":" + QByteArray::number(incident.id);
    line += ",\"address\":" + jsonString(incident.addressText);
    line += ",\"first\":\"" + timestamp(incident.first, incident.utcOffset);
    line += "\",\"last\":\"" + timestamp(incident.last, incident.utcOffset);
    line += "\",\"ports\":" + jsonString(incident.ports);
    line += ",\"count\":" + QByteArray::number(incident.count);
    line += ",\"family\":\"";
    line += family(incident);
    line += "\",\"detection\":" + jsonString(HistoryFilter::kindNames(incident.kinds));
    line += incident.spoofable ? ",\"spoofable\":true" : ",\"spoofable\":false";
    line += ",\"sources\":" + QByteArray::number(incident.sources);
    line += ",\"state\":\"";
    line += stateName(incident.state);
    line += "\",\"country\":" + jsonString(incident.country);
    line += ",\"asn\":" + QByteArray::number(incident.asn);
    line += ",\"owner\":" + jsonString(incident.owner);
    return line + "}\n";
}

bool write(HistoryQuery& query, const HistoryFilter& filter, const HistorySort& sort, Format format,
    QIODevice& out, QString* error)
{
    const bool csv = format == Format::Csv;
    bool written = !csv || out.write(csvHeader()) >= 0;
    const bool read = written && query.forEach(filter, sort, [&](const HistoryIncident& incident) {
        written = out.write(csv ? csvLine(incident) : jsonLine(incident)) >= 0;
        return written;
    });
    if (error)
        *error = !written ? out.errorString() : !read ? query.lastError() : QString();
    return written && read;
}

} // namespace HistoryExport
