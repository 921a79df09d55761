#pragma once

#include "Event.h"
#include "IntrusionHandler.h"
#include "ListeningSocket.h"
#include "MonitoringControl.h"
#include "PortBinder.h"
#include "ProbeClassifier.h"
#include "RandomPortSentinel.h"
#include "Settings.h"
#include "UdpTripwire.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class EventSink;
class MonitoringState;
class OptionsModel;
class PacketWatch;
class SettingsManager;
class SoundPlayer;
class StatusReporter;

// Switches port monitoring on and off: one listener per entry of the port list, one UDP tripwire
// per entry of the UDP list, the random port sentinel when it is enabled, and the packet watch
// when there is one. The window's first flat button shows the caption derived from
// the state, "Start" while off and "Stop" while on, as captionChanged says.
class MonitoringSwitch : public QObject, public MonitoringControl
{
    Q_OBJECT

public:
    MonitoringSwitch(StatusReporter& status, MonitoringState& monitoringState, const OptionsModel& options,
        const SettingsManager& settings, SoundPlayer& soundPlayer, EventSink& events,
        SentinelSchedule sentinelSchedule = {}, QObject* parent = nullptr);
    ~MonitoringSwitch() override;

    enum class State { Off, On };

    // A port-list entry the last opening of the listeners could not guard, and why.
    struct Unguarded
    {
        QString entry;
        Event::Reason reason;
    };

    State state() const { return m_state; }
    bool isOn() const { return m_state == State::On; }
    // The caption of the button that toggles the switch: what pressing it would do.
    static QString caption(State state);
    QString caption() const { return caption(m_state); }

    // MonitoringControl
    void toggleMonitoring() override;
    void unloadSentinel() override;

    // Who to ask for the ports below 1024 the program may not bind itself, TCP and UDP; none: they
    // stay unbound.
    void setPrivilegedBinder(PortBinder* binder) { m_privilegedBinder = binder; }
    // What sees the probes that never reach a listener; none: only connections and datagrams.
    void setPacketWatch(PacketWatch* watch);
    // Takes the detections and the UDP list; reopens the tripwires when monitoring is on, with
    // their status lines when report is set. The intrusion handling must be configured first:
    // scans end after its gap.
    void configureDetection(const Settings::Detection& settings, bool report);

    // Starts the sentinel; closing the options dialog calls it when monitoring is on and RPS is enabled.
    void loadSentinel();

    // Opens one listener per entry of the port list, in list order. Each is reported in the
    // status list only while switching on, not when the listeners come back after the options.
    void openPortListeners();
    // Closes every listener and tripwire; monitoring stays on as far as the caption and the flag go.
    void closePortListeners();
    // At exit: the open scans get their closing records, then the open incidents theirs, as when
    // monitoring stops; a sweep cut short by the exit still says how many ports it touched.
    void endIncidents();

    // The entries the listeners were last opened for, and those of them left unguarded.
    int openedEntryCount() const { return m_openedEntries; }
    const QList<Unguarded>& unguarded() const { return m_unguarded; }
    // The same for the UDP list's entries, as the tripwires were last opened.
    int openedUdpCount() const { return m_openedUdpEntries; }
    const QList<Unguarded>& unguardedUdp() const { return m_unguardedUdp; }
    const PacketWatch* packetWatch() const { return m_packetWatch; }

    // The listeners, listener i serving entry i of the port list when last opened.
    int listenerCount() const { return int(m_listeners.size()); }
    const ListeningSocket& listener(int index) const { return *m_listeners.at(std::size_t(index)); }
    const RandomPortSentinel& sentinel() const { return m_sentinel; }
    const IntruderRecord& intruder() const { return m_intrusions.intruder(); }
    IntrusionHandler& intrusions() { return m_intrusions; }
    ProbeClassifier& probes() { return m_probes; }
    const UdpTripwire& tripwire(int index) const { return *m_tripwires.at(std::size_t(index)); }

signals:
    void captionChanged(const QString& caption);

private:
    using ListenResult = ListeningSocket::ListenResult;

    ListeningSocket& ensureListener(int index);
    ListenResult openPortListener(int index, int port);
    // Asks the privileged binder for the ports below 1024 the system kept from us; adopt(i, fd)
    // takes entry i's socket.
    void bindPrivilegedPorts(const QList<int>& ports, std::vector<ListenResult>& results,
        PortBinder::Protocol protocol, const std::function<ListenResult(std::size_t, int)>& adopt);
    void reportPort(const QString& entry, int port, ListenResult result, bool udp = false);
    void openTripwires(bool report);
    void closeTripwires();
    void startPacketWatch();
    void stopPacketWatch();
    // The listener on the port now, if any.
    const ListeningSocket* listenerOn(int port) const;
    void setState(State state);

    StatusReporter& m_status;
    MonitoringState& m_monitoringState;
    const OptionsModel& m_options;
    const SettingsManager& m_settings;
    SoundPlayer& m_soundPlayer;
    PortBinder* m_privilegedBinder = nullptr;
    EventSink& m_events;
    IntrusionHandler m_intrusions;
    ProbeClassifier m_probes;
    // Listeners are created as the port list first needs them and then kept: stopping closes them
    // and the next start reuses them.
    std::vector<std::unique_ptr<ListeningSocket>> m_listeners;
    RandomPortSentinel m_sentinel;
    Settings::Detection m_detection;
    std::vector<std::unique_ptr<UdpTripwire>> m_tripwires;
    PacketWatch* m_packetWatch = nullptr;
    bool m_watchReported = false;
    State m_state = State::Off;
    int m_openedEntries = 0;
    QList<Unguarded> m_unguarded;
    int m_openedUdpEntries = 0;
    QList<Unguarded> m_unguardedUdp;
};
