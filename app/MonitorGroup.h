#pragma once

#include "AlarmSelfTest.h"
#include "AlertActions.h"
#include "DefaultRouteProbe.h"
#include "FreedesktopNotifications.h"
#include "HelperPortBinder.h"
#include "IncidentNotifications.h"
#include "IntruderBlocker.h"
#include "MonitoringSwitch.h"
#include "NetConnectionWatch.h"
#include "NullIconFlasher.h"
#include "PacketWatch.h"
#include "PushNotifications.h"

#include <QObject>

#include <functional>
#include <utility>

class DesktopServices;
class Foundation;

// Port monitoring and everything an intrusion sets off: the listeners, the packet watch, the
// intrusion handling, the alert actions, the desktop notifications and the pushes to the user's
// phone, the network watch and the alarm self-test.
class MonitorGroup : public QObject
{
    Q_OBJECT

public:
    // bindHelper: binds the ports below 1024 for us; watchHelper: opens the packet watch's
    // socket for us; blockHelper: blocks addresses at the firewall; empty: none.
    MonitorGroup(Foundation& foundation, DesktopServices& services, const QString& bindHelper,
        const QString& watchHelper, const QString& blockHelper);

    // Takes the "Events", "Alarm", "Push" and "Detection" sections (with the UDP list) into the
    // outputs, the intrusion handling, the pushes and the probe classifier. The first time, at
    // start-up, a refused allow-list entry gets a status line and the UDP tripwires report their
    // ports; closing the options applies them again.
    void apply(const Settings& settings);
    // The open scans and incidents get their ended records; the outputs flush after this.
    void endIncidents() { m_monitoring.endIncidents(); }
    // At exit: done runs once the pushes still waiting (an incident's summary, say) have gone out,
    // or after a few seconds.
    void finishPushes(std::function<void()> done)
    {
        m_push.delivery().finishWithin(std::chrono::seconds(3), std::move(done));
    }
    bool isFinishingPushes() { return m_push.delivery().isFinishing(); }
    // Also sends the options dialog's test push.
    PushDelivery& pushDelivery() { return m_push.delivery(); }

    // What flashes after an intrusion; nothing until a tray icon is set.
    void setIconFlasher(IconFlasher& flasher) { m_alert.setIconFlasher(&flasher); }
    // What a click on a desktop notification does.
    // An incident notification's "Show", with the incident's source (null where it is no longer known).
    void setNotificationClicked(std::function<void(const IpAddress&)> clicked) { m_notificationClicked = std::move(clicked); }

    MonitoringSwitch& monitoring() { return m_monitoring; }
    NetConnectionWatch& networkWatch() { return m_networkWatch; }
    const PacketWatch& packetWatch() const { return m_packetWatch; }
    void useWatchService(const QString& socketPath) { m_packetWatch.useService(socketPath); }
    AlertActions& alert() { return m_alert; }
    AlarmSelfTest& selfTest() { return m_selfTest; }
    NotificationService& notifications() { return m_desktopNotifications; }
    IntruderBlocker& blocker() { return m_blocker; }

private:
    Foundation& m_foundation;
    NullIconFlasher m_noFlasher;
    AlertActions m_alert;
    HelperPortBinder m_portBinder;
    PacketWatch m_packetWatch;
    FirewallBlocker m_firewall;
    IntruderBlocker m_blocker;
    DefaultRouteProbe m_connectionProbe;
    NetConnectionWatch m_networkWatch;
    MonitoringSwitch m_monitoring;
    std::function<void(const IpAddress&)> m_notificationClicked;
    FreedesktopNotifications m_desktopNotifications;
    IncidentNotifications m_incidentNotifications;
    PushNotifications m_push;
    AlarmSelfTest m_selfTest;
    bool m_applied = false;
    Settings::Events m_appliedEvents;
};
