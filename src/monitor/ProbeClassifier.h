#pragma once

#include "Event.h"
#include "PendingSyns.h"
#include "ScanTracker.h"
#include "Settings.h"
#include "TcpProbe.h"
#include "Throttle.h"

#include <QList>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>

class IntrusionHandler;
class StatusReporter;

// Makes intrusions of everything the sockets and the packet watch see: the listeners' completed
// connections, the packet watch's probes, the UDP tripwires' datagrams, and sources touching many
// ports. A completed connection passes through on its way to the intrusion handler, clearing its
// SYN and counting towards a scan. Every detection ends in the intrusion handler, so the allow
// list, one alarm per scan and the caps on incidents and alerts apply to all of them alike.
//
//  - a SYN to a guarded port waits; not accepted within PendingSyns::Deadline it is half_open,
//    unless connections still wait in that port's queue: its own may be among them;
//  - no SYN, ACK or RST to a guarded port: FIN alone is fin, nothing is null, anything else
//    (FIN+PSH+URG first of all) is xmas;
//  - a fragmented probe (a first fragment too short for the TCP header, an IPv6 atomic fragment)
//    to a guarded port is fragment;
//  - every probe, connection and datagram, guarded port or not, counts towards a port scan.
class ProbeClassifier
{
public:
    using Guarded = std::function<bool(int port)>;

    ProbeClassifier(
        IntrusionHandler& intrusions, StatusReporter& status, Throttle::Clock clock = &Throttle::steadyNow);

    void configure(const Settings::Detection& settings, std::chrono::milliseconds scanGap);
    // Whether a port has a listener now, and whether connections wait in its queue to be accepted.
    void setGuarded(Guarded guarded, Guarded backlogged = {})
    {
        m_guarded = std::move(guarded);
        m_backlogged = std::move(backlogged);
    }
    // Whether the packet watch runs: only then are accepted connections remembered for their SYN.
    void setWatching(bool watching) { m_watching = watching; }

    void probesSeen(const QList<TcpProbe>& probes);
    // sentinel: the connection came in through the random port sentinel.
    void connectionSeen(const IpAddress& peer, int localPort, int peerPort, bool sentinel = false);
    void datagramSeen(const IpAddress& peer, int localPort, int peerPort);

    // Raises the half-open SYNs that are due and ages the scans (a timer calls it while any wait).
    void expire();
    // Monitoring stops: waiting SYNs are dropped unreported, open scans end.
    void stop();

private:
    void report(const TcpProbe& probe, Event::Detection detection);
    void reportLosses(bool flooded);
    void keepTicking();

    IntrusionHandler& m_intrusions;
    StatusReporter& m_status;
    PendingSyns m_syns;
    ScanTracker m_scans;
    Guarded m_guarded;
    Guarded m_backlogged;
    bool m_watching = false;
    bool m_halfOpen = true;
    bool m_stealthFlags = true;
    bool m_portScan = true;
    QTimer m_tick;
};
