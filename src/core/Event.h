#pragma once

#include <QDateTime>
#include <QString>

// One thing the program observed, as data for machines: the event log, the system log and a
// remote collector all get the same record, built once where the event happens. Adding a field
// means a member here and a line in each output's formatter.
struct Event
{
    enum class Kind {
        Intrusion,
        MonitoringStarted,
        MonitoringStopped,
        PortUnguarded, // a port of the list could not be armed
        NetworkChanged,
        ProgramStarted,
        ProgramExited,
        Allowed, // a connection from the allow list: dropped without an alarm
        IncidentEnded, // a source's scan gap passed, or monitoring stopped
        PortScan, // a source touched "Scan Ports" ports within the window, or that scan ended
        Blocked, // the firewall drops a source's packets for a while
        Unblocked, // and no longer does
        Flood, // detections beyond the rate, folded into one record a second
    };
    // How an intrusion was seen: a completed connection, or a probe that never completed one.
    // Every kind but Connect can come from a forged address.
    enum class Detection { Connect, HalfOpen, Fin, Null, Xmas, Udp, Fragment };
    enum class Reason { None, InUse, NeedsPrivileges, InvalidPort };

    Kind kind = Kind::ProgramStarted;
    // Local time with milliseconds; its offset from UTC travels with it.
    QDateTime time;
    // Numbered by the outputs in the order they received it, from 1.
    quint64 sequence = 0;

    // Intrusion: the peer and the attacked port. PortUnguarded: port (0 when the entry is not a
    // number) and the entry as listed.
    QString address;
    int sourcePort = 0;
    int port = 0;
    bool sentinel = false; // came in through the random port sentinel
    Detection detection = Detection::Connect; // Intrusion, Allowed
    bool udp = false; // PortUnguarded: the entry of the UDP list
    quint64 incident = 0; // Intrusion, IncidentEnded: the incident's id, from 1
    Reason reason = Reason::None;
    QString entry;

    bool connected = false; // NetworkChanged: the new state

    // IncidentEnded: its first and last connection (time is when it ended), the ports it touched
    // in order as "21,22,23", and its number of connections. PortScan: the first ports it touched
    // and its number of distinct ports.
    QDateTime first;
    QDateTime last;
    QString ports;
    int count = 0;
    bool scanEnded = false; // PortScan: the closing record rather than the one at the threshold
    bool spoofable = false; // PortScan: some of its probes may have come from a forged address

    // Blocked: for how long, and whether the user asked (or the automatic blocking did).
    // Unblocked: why ("user", "expired" or "full": the oldest made room for another).
    int seconds = 0;
    bool automatic = false;
    const char* cause = "";

    // Flood: the kind folded ("udp", ..., "port_scan"), how many probes from about how many
    // sources; address, sourcePort and port are the latest probe's.
    const char* folded = "";
    qint64 probes = 0;
    qint64 sources = 0;

    // ProgramStarted
    QString version;
    QString programFolder;

    // The local time now, as a fixed offset from UTC.
    static QDateTime localNow();
    static Event now(Kind kind);
    static Event intrusion(const QString& address, int sourcePort, int port, bool sentinel,
        Detection detection = Detection::Connect);
    static Event allowed(const QString& address, int sourcePort, int port, bool sentinel,
        Detection detection = Detection::Connect);
    static Event portScan(quint64 incident, const QString& address, const QString& ports, int portCount,
        bool spoofable, bool ended);
    static Event incidentEnded(quint64 incident, const QString& address, const QDateTime& first,
        const QDateTime& last, const QString& ports, int count);
    static Event portUnguarded(const QString& entry, int port, Reason reason);
    static Event networkChanged(bool connected);
    static Event blocked(const QString& address, int seconds, bool automatic);
    static Event unblocked(const QString& address, const char* cause);
    static Event flood(
        const char* folded, qint64 probes, qint64 sources, const QString& address, int sourcePort, int port);
    static Event programStarted(const QString& version, const QString& programFolder);

    bool isIpv6() const { return address.contains(QLatin1Char(':')); }
    // Stable lower-case names used as field values in every output.
    static const char* kindName(Kind kind);
    static const char* reasonName(Reason reason);
    static const char* detectionName(Detection detection);
    static bool isSpoofable(Detection detection) { return detection != Detection::Connect; }
};
