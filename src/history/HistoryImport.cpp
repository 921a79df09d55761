#include "HistoryImport.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

namespace {
// events.jsonl keeps at most this many rotated files; more would be none of its own.
constexpr int MaxRotated = 100;

constexpr Event::Kind Kept[] = { Event::Kind::Intrusion, Event::Kind::Allowed, Event::Kind::PortScan,
    Event::Kind::IncidentEnded, Event::Kind::Blocked, Event::Kind::Flood, Event::Kind::ProgramStarted };

std::optional<Event::Kind> keptKind(const QString& name)
{
    for (const Event::Kind kind : Kept) {
        if (name == QLatin1String(Event::kindName(kind)))
            return kind;
    }
    return std::nullopt;
}
} // namespace

HistoryImport::HistoryImport(const QString& folder, qint64 maxBytes, qint64 atOrAfter)
    : m_atOrAfter(atOrAfter)
{
    const QString base = QDir(folder).filePath(QStringLiteral("events.jsonl"));
    qint64 room = maxBytes;
    for (int i = 0; i <= MaxRotated && room > 0; ++i) { // newest first
        const QFileInfo file(i == 0 ? base : base + QLatin1Char('.') + QString::number(i));
        if (!file.isFile()) {
            if (i == 0)
                continue;
            break;
        }
        const qint64 from = std::max<qint64>(0, file.size() - room);
        m_parts.prepend({ file.filePath(), from });
        m_total += file.size() - from;
        room -= file.size() - from;
    }
}

bool HistoryImport::openNext()
{
    m_file.close();
    while (!m_parts.isEmpty()) {
        const Part part = m_parts.takeFirst();
        m_file.setFileName(part.path);
        if (!m_file.open(QIODevice::ReadOnly))
            continue;
        if (part.from > 0) { // into the middle of a line: start at the next one
            m_file.seek(part.from - 1);
            const QByteArray rest = m_file.readLine(MaxLine);
            m_read += rest.size() - 1;
        }
        return true;
    }
    return false;
}

HistoryBatch HistoryImport::next(qsizetype count)
{
    HistoryBatch batch;
    while (qsizetype(batch.size()) < count) {
        if (!m_file.isOpen() || m_file.atEnd()) {
            if (!openNext())
                break;
            continue;
        }
        QByteArray line = m_file.readLine(MaxLine);
        m_read += line.size();
        if (!line.endsWith('\n') && !m_file.atEnd()) { // too long: skip the rest of it
            while (!m_file.atEnd() && !line.endsWith('\n')) {
                line = m_file.readLine(MaxLine);
                m_read += line.size();
            }
            ++m_skipped;
            continue;
        }
        bool malformed = false;
        std::optional<HistoryEntry> entry = parse(line, &malformed);
        m_skipped += malformed ? 1 : 0;
        if (entry && entry->time < m_atOrAfter)
            batch.push_back(std::move(*entry));
    }
    return batch;
}

std::optional<HistoryEntry> HistoryImport::parse(const QByteArray& line, bool* malformed)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    if (malformed)
        *malformed = error.error != QJsonParseError::NoError || !document.isObject();
    const QJsonObject object = document.object();
    const std::optional<Event::Kind> kind = keptKind(object.value(QLatin1String("event")).toString());
    const QDateTime time
        = QDateTime::fromString(object.value(QLatin1String("time")).toString(), Qt::ISODateWithMs);
    if (!kind || !time.isValid())
        return std::nullopt;

    Event event;
    event.kind = *kind;
    event.time = time;
    event.address = object.value(QLatin1String("address")).toString();
    event.port = object.value(QLatin1String("port")).toInt();
    event.incident = quint64(object.value(QLatin1String("incident")).toInteger());
    const QByteArray detection = object.value(QLatin1String("detection")).toString().toLatin1();
    for (int i = 0; i <= int(Event::Detection::Fragment); ++i) {
        if (detection == Event::detectionName(Event::Detection(i)))
            event.detection = Event::Detection(i);
    }
    event.folded = detection == "port_scan" ? "port_scan" : Event::detectionName(event.detection);
    event.probes = object.value(QLatin1String("probes")).toInteger();
    event.sources = object.value(QLatin1String("sources")).toInteger();
    return HistoryEntry::of(event);
}
