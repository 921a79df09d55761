#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <array>
#include <chrono>
#include <map>
#include <string>

struct Event;
class StatusReporter;

// Counters for a monitoring system, as a Prometheus text file that node_exporter's textfile
// collector serves: intrusions by how they were detected and by guarded port, port scans, blocks,
// allowed connections and folded probes, and when the program started. The file is rewritten
// whole (a temporary file beside it renamed over it, so a reader never sees half of one) at most
// once an interval, and only when a count changed. No label holds an address: the labels are
// detections and guarded ports, so the number of series stays bounded whatever intruders send.
class MetricsFile : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds Interval { 5000 };
    // Ports with a series of their own; later ones share port="other". The guarded ports are far
    // fewer; this only bounds a list of thousands.
    static constexpr std::size_t MaxPorts = 1024;

    explicit MetricsFile(
        StatusReporter& status, std::chrono::milliseconds interval = Interval, QObject* parent = nullptr);

    // Writes to path from now on; empty turns the file off and removes the one written.
    void open(const QString& path);
    bool isOpen() const { return !m_path.isEmpty(); }
    void record(const Event& event);
    // Writes now when a count changed since the last write.
    void flush();
    // The file's text.
    QByteArray text() const;

private:
    void scheduleWrite();
    bool write();

    StatusReporter& m_status;
    QString m_path;
    QTimer m_timer;
    bool m_changed = false;
    bool m_failing = false;
    const qint64 m_startTime;
    std::array<quint64, 7> m_detections {}; // by Event::Detection
    std::map<std::pair<int, bool>, quint64> m_ports; // (port, UDP); port -1: the sentinel, 0: other
    std::map<std::string, quint64> m_folded; // probes by the kind folded
    quint64 m_scans = 0;
    quint64 m_blocked = 0;
    quint64 m_allowed = 0;
};
