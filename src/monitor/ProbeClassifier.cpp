#include "ProbeClassifier.h"

#include "IntrusionHandler.h"
#include "StatusReporter.h"

namespace {
// The kind of a segment with none of SYN, ACK, RST set.
Event::Detection stealthKind(std::uint8_t flags)
{
    const int set = flags & (TcpProbe::Fin | TcpProbe::Psh | TcpProbe::Urg);
    if (set == 0)
        return Event::Detection::Null;
    return set == TcpProbe::Fin ? Event::Detection::Fin : Event::Detection::Xmas;
}
} // namespace

ProbeClassifier::ProbeClassifier(IntrusionHandler& intrusions, StatusReporter& status, Throttle::Clock clock)
    : m_intrusions(intrusions)
    , m_status(status)
    , m_syns(clock)
    , m_scans(clock)
{
    m_scans.setReports([this](PortScan& scan) { m_intrusions.handlePortScan(scan); },
        [this](PortScan& scan) { m_intrusions.portScanEnded(scan); });
    // A quarter of the deadline: a half-open probe is raised at most that late.
    m_tick.setInterval(PendingSyns::Deadline / 4);
    QObject::connect(&m_tick, &QTimer::timeout, &m_tick, [this] { expire(); });
}

void ProbeClassifier::configure(const Settings::Detection& settings, std::chrono::milliseconds scanGap)
{
    m_halfOpen = settings.halfOpen;
    m_stealthFlags = settings.stealthFlags;
    if (m_portScan && !settings.portScan)
        m_scans.endAll();
    m_portScan = settings.portScan;
    m_scans.configure(settings.scanPorts, std::chrono::seconds(settings.scanWindowSeconds), scanGap);
}

void ProbeClassifier::probesSeen(const QList<TcpProbe>& probes)
{
    for (const TcpProbe& probe : probes) {
        const bool syn = !probe.fragment && (probe.flags & (TcpProbe::Syn | TcpProbe::Ack)) == TcpProbe::Syn;
        const bool stealth
            = !probe.fragment && (probe.flags & (TcpProbe::Syn | TcpProbe::Ack | TcpProbe::Rst)) == 0;
        // Anything else belongs to a connection: the watch should never pass it.
        if (!syn && !stealth && !probe.fragment)
            continue;
        if (m_portScan)
            m_scans.touch(probe.source, probe.destinationPort, true);
        if (!m_guarded || !m_guarded(probe.destinationPort))
            continue;
        // Split to slip past a filter: whatever its flags, no connection of ours starts that way.
        if (probe.fragment && m_stealthFlags)
            report(probe, Event::Detection::Fragment);
        else if (syn && m_halfOpen)
            m_syns.syn(probe);
        else if (stealth && m_stealthFlags)
            report(probe, stealthKind(probe.flags));
    }
    keepTicking();
}

// Allowed connections too: a SYN waits for them all the same.
void ProbeClassifier::connectionSeen(const IpAddress& peer, int localPort, int peerPort, bool sentinel)
{
    m_intrusions.handleIntrusion(peer, localPort, peerPort, sentinel);
    // Afterwards, so that a scan this connection completes is recorded after the connection.
    const bool clearsSyn = m_watching && m_halfOpen;
    if (!clearsSyn && !m_portScan)
        return;
    if (clearsSyn)
        m_syns.accepted(peer, peerPort, localPort);
    if (m_portScan)
        m_scans.touch(peer, localPort, false);
    keepTicking();
}

void ProbeClassifier::datagramSeen(const IpAddress& peer, int localPort, int peerPort)
{
    if (m_portScan) {
        m_scans.touch(peer, localPort, true);
        keepTicking();
    }
    m_intrusions.handleIntrusion(peer, localPort, peerPort, false, Event::Detection::Udp);
}

void ProbeClassifier::report(const TcpProbe& probe, Event::Detection detection)
{
    m_intrusions.handleIntrusion(probe.source, probe.destinationPort, probe.sourcePort, false, detection);
}

void ProbeClassifier::expire()
{
    for (const TcpProbe& probe : m_syns.takeDue()) {
        // Closed since: no listener left to have accepted it.
        if (!m_guarded || !m_guarded(probe.destinationPort))
            continue;
        // A busy listener may not have come to its connection yet: never count it twice.
        if (m_backlogged && m_backlogged(probe.destinationPort))
            m_syns.syn(probe);
        else
            report(probe, Event::Detection::HalfOpen);
    }
    const qsizetype sources = m_scans.expire();
    reportLosses(sources >= ScanTracker::MaxSources || m_syns.waitingCount() >= PendingSyns::MaxPending);
    if (m_syns.isEmpty() && sources == 0)
        m_tick.stop();
}

void ProbeClassifier::stop()
{
    m_syns.clear();
    m_scans.endAll();
    m_tick.stop();
    reportLosses(false);
}

// Once the flood is over: one line for all it cost, not one per dropped probe.
void ProbeClassifier::reportLosses(bool flooded)
{
    if (flooded)
        return;
    if (const quint64 dropped = m_syns.takeDropped()) {
        m_status.addStatusLine(
            QStringLiteral("Half-open scans: %1 probes dropped, more than %2 waiting at once")
                .arg(dropped)
                .arg(PendingSyns::MaxPending));
    }
    if (const quint64 evicted = m_scans.takeEvicted()) {
        m_status.addStatusLine(QStringLiteral("Port scans: %1 sources dropped, more than %2 at once")
                                   .arg(evicted)
                                   .arg(ScanTracker::MaxSources));
    }
}

void ProbeClassifier::keepTicking()
{
    if (!m_tick.isActive() && (!m_syns.isEmpty() || m_scans.sourceCount() > 0))
        m_tick.start();
}
