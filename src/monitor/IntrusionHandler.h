#pragma once

#include "AllowList.h"
#include "Event.h"
#include "IncidentTracker.h"
#include "IntruderRecord.h"
#include "PortScan.h"
#include "ProbeFolding.h"
#include "Settings.h"

#include <QString>
#include <QTimer>

#include <vector>

class EventSink;
class IntruderBlocker;
class IntrusionObserver;
class StatusReporter;

// Reports one intrusion: shows it in the status display, records it, then tells the observers
// (the alert actions, the notifications, the pushes, the blocking). The probe classifier hands
// every detection here: the listeners' connections, the probes that never completed one, the
// scans. The event for the machine-readable outputs and the address's text are made here, once
// per intrusion.
//
// Connections from the allow list end here: counted and recorded as allowed, nothing shown.
// Detections whose address may be forged end here too when the address is blocked (counted
// against its block), or when they come faster than the folding's rate (then one summary a
// second). The rest are grouped into incidents; with one alarm per scan the alert is told when
// its incident has sounded already. Completed connections are never folded nor held back.
class IntrusionHandler
{
public:
    IntrusionHandler(StatusReporter& status, EventSink& events, Throttle::Clock clock = &Throttle::steadyNow);

    // Takes the gap, the allow list and one alarm per scan.
    void configure(const Settings::Alarm& settings);
    // Told of every alarm and of each incident's end, in the order added. Each outlives the
    // handler's use of it.
    void addObserver(IntrusionObserver* observer) { m_observers.push_back(observer); }
    // Asked of every detection that may be forged: whether its address is blocked now, the
    // attempt then counted against the block. The firewall drops what a blocked address sends,
    // but the packet watch sees it before, and it must not raise the alarm again.
    void setBlocker(IntruderBlocker* blocker) { m_blocker = blocker; }

    // sentinel: the connection came in through the random port sentinel.
    void handleIntrusion(const IpAddress& peer, int localPort, int peerPort = 0, bool sentinel = false,
        Event::Detection detection = Event::Detection::Connect);
    // A source crossed the scan threshold: one alarm for the whole sweep. Fills in the scan's
    // incident, or that the allow list holds the source (then nothing is shown or recorded).
    void handlePortScan(PortScan& scan);
    // Its closing record; nothing for an allowed source.
    void portScanEnded(const PortScan& scan);

    // The "Message: " line of each kind: empty for a connection, as it always was.
    static QString messageFor(Event::Detection detection);

    // The next connection from this address is an intrusion even when the allow list holds it:
    // the self-test's own connection.
    void exemptOnce(const IpAddress& address) { m_exempt = address; }

    // Ends the incidents whose gap has passed and reports the folded probes of the periods that
    // are over (a timer calls it while any is open or any probe is folded).
    void expireIncidents();
    // Reports every folded probe and ends every open incident, e.g. when monitoring stops.
    void endIncidents();

    // The latest intrusion; empty before the first.
    const IntruderRecord& intruder() const { return m_intruder; }
    quint64 intrusionCount() const { return m_intrusions; }
    quint64 allowedCount() const { return m_allowed; }
    const IncidentTracker& incidents() const { return m_incidents; }

private:
    void raise(Event& event, const IpAddress& source, int localPort, int peerPort, const QString& message,
        const char* detection, bool spoofable);
    void incidentEnded(const Incident& incident);
    // One status line for the incidents the cap has ended early since the last one.
    void reportEndedEarly();
    // Whether a detection that may be forged is held back: blocked, or folded.
    bool holdsBack(const char* kind, const IpAddress& address, int sourcePort, int port);
    void reportFolded(bool all = false);
    void addStatusBlock(const QString& address, const QString& port, const QString& message);
    void keepExpiring();

    StatusReporter& m_status;
    EventSink& m_events;
    std::vector<IntrusionObserver*> m_observers;
    IntruderBlocker* m_blocker = nullptr;
    ProbeFolding m_folding;
    IntruderRecord m_intruder;
    IncidentTracker m_incidents;
    AllowList m_allow;
    bool m_oneAlarmPerScan = false;
    IpAddress m_exempt;
    quint64 m_intrusions = 0;
    quint64 m_allowed = 0;
    QTimer m_expiry;
};
