#include "MetricsFile.h"

#include "Event.h"
#include "EventFields.h"
#include "StatusReporter.h"

#include <QDateTime>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr Event::Detection AllDetections[]
    = { Event::Detection::Connect, Event::Detection::HalfOpen, Event::Detection::Fin, Event::Detection::Null,
          Event::Detection::Xmas, Event::Detection::Udp, Event::Detection::Fragment };

void family(QByteArray& out, const char* name, const char* type, const char* help)
{
    out += QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
}

void sample(QByteArray& out, const char* name, const QByteArray& labels, quint64 value)
{
    out += name;
    if (!labels.isEmpty())
        out += '{' + labels + '}';
    out += ' ' + QByteArray::number(value) + '\n';
}

// Label values come from the program's own names and numbers; escaped all the same, as the
// format asks, should a name ever hold a quote or backslash.
QByteArray label(const char* name, const QByteArray& value)
{
    QByteArray escaped = value;
    escaped.replace('\\', "\\\\").replace('"', "\\\"").replace('\n', "\\n");
    return name + QByteArray("=\"") + escaped + '"';
}
} // namespace

MetricsFile::MetricsFile(StatusReporter& status, std::chrono::milliseconds interval, QObject* parent)
    : QObject(parent)
    , m_status(status)
    , m_startTime(QDateTime::currentSecsSinceEpoch())
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(interval);
    connect(&m_timer, &QTimer::timeout, this, &MetricsFile::flush);
}

void MetricsFile::open(const QString& path)
{
    if (path == m_path)
        return;
    if (!m_path.isEmpty() && path.isEmpty())
        QFile::remove(m_path);
    m_path = path;
    m_failing = false;
    m_changed = !path.isEmpty();
    flush(); // the start time and the counts so far, at once
}

void MetricsFile::record(const Event& event)
{
    switch (event.kind) {
    case Event::Kind::Intrusion: {
        ++m_detections[std::size_t(event.detection)];
        if (event.detection == Event::Detection::Fragment)
            break; // a fragment tells no port
        std::pair key { event.sentinel ? -1 : event.port, event.detection == Event::Detection::Udp };
        if (!m_ports.contains(key) && m_ports.size() >= MaxPorts)
            key.first = 0;
        ++m_ports[key];
        break;
    }
    case Event::Kind::PortScan:
        if (event.scanEnded)
            return;
        ++m_scans;
        break;
    case Event::Kind::Blocked:
        ++m_blocked;
        break;
    case Event::Kind::Allowed:
        ++m_allowed;
        break;
    case Event::Kind::Flood:
        m_folded[event.folded] += quint64(event.probes);
        break;
    default:
        return;
    }
    m_changed = true;
    scheduleWrite();
}

void MetricsFile::scheduleWrite()
{
    if (isOpen() && !m_timer.isActive())
        m_timer.start();
}

void MetricsFile::flush()
{
    m_timer.stop();
    if (isOpen() && m_changed)
        m_changed = !write();
}

QByteArray MetricsFile::text() const
{
    QByteArray out;
    family(out, "sentrel_start_time_seconds", "gauge",
        "When the program started, in seconds since the Unix epoch.");
    sample(out, "sentrel_start_time_seconds", {}, quint64(m_startTime));
    family(out, "sentrel_detections_total", "counter", "Intrusions recorded, by how they were detected.");
    for (const Event::Detection detection : AllDetections)
        sample(out, "sentrel_detections_total",
            label("detection", EventFields::detectionText(detection).toLatin1()),
            m_detections[std::size_t(detection)]);
    family(out, "sentrel_port_intrusions_total", "counter",
        "Intrusions recorded, by guarded port (sentinel: the random port sentinel's).");
    for (const auto& [key, count] : m_ports) {
        const auto& [port, udp] = key;
        const QByteArray name = port < 0 ? "sentinel" : port == 0 ? "other" : QByteArray::number(port);
        sample(out, "sentrel_port_intrusions_total",
            label("port", name) + ',' + label("transport", udp ? "udp" : "tcp"), count);
    }
    family(out, "sentrel_port_scans_total", "counter", "Port scans detected.");
    sample(out, "sentrel_port_scans_total", {}, m_scans);
    family(out, "sentrel_blocked_total", "counter", "Sources blocked at the firewall.");
    sample(out, "sentrel_blocked_total", {}, m_blocked);
    family(out, "sentrel_allowed_total", "counter",
        "Connections from allowed sources, dropped without an alarm.");
    sample(out, "sentrel_allowed_total", {}, m_allowed);
    family(out, "sentrel_folded_probes_total", "counter",
        "Probes beyond the rate, folded into one record a second, by kind.");
    for (const auto& [kind, probes] : m_folded)
        sample(out, "sentrel_folded_probes_total", label("kind", QByteArray::fromStdString(kind)), probes);
    return out;
}

bool MetricsFile::write()
{
    // The temporary name does not end in ".prom": the collector never reads it.
    const QByteArray path = QFile::encodeName(m_path);
    const QByteArray temporary = path + ".tmp";
    const QByteArray bytes = text();
    // Made anew, so that nothing left in its place (a link, a pipe that would stall the event loop)
    // is written through. Counts only, no addresses: readable by the collector's user whatever the
    // umask.
    ::unlink(temporary.constData());
    const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    bool done
        = fd >= 0 && ::fchmod(fd, 0644) == 0 && ::write(fd, bytes.constData(), bytes.size()) == bytes.size();
    const int error = done ? 0 : errno;
    if (fd >= 0)
        done = ::close(fd) == 0 && done;
    done = done && ::rename(temporary.constData(), path.constData()) == 0;
    if (!done) {
        const int reason = error ? error : errno;
        if (fd >= 0)
            ::unlink(temporary.constData());
        if (!std::exchange(m_failing, true))
            m_status.addStatusLine(QStringLiteral("Metrics file: cannot write %1: %2")
                                       .arg(m_path, QString::fromLocal8Bit(std::strerror(reason))));
        return false;
    }
    m_failing = false;
    return true;
}
