#include "MonitorGroup.h"

#include "DesktopServices.h"
#include "Event.h"
#include "Foundation.h"

MonitorGroup::MonitorGroup(Foundation& foundation, DesktopServices& services, const QString& bindHelper,
    const QString& watchHelper, const QString& blockHelper)
    : m_foundation(foundation)
    , m_alert(foundation.settings(), foundation.options(), services.alertServices(m_noFlasher))
    , m_portBinder(bindHelper)
    , m_packetWatch(watchHelper)
    , m_firewall(blockHelper)
    , m_blocker(m_firewall, foundation.status(), foundation.events())
    , m_networkWatch(m_connectionProbe, services.soundPlayer(), foundation.options(), foundation.status())
    , m_monitoring(foundation.status(), foundation.monitoringState(), foundation.options(), foundation.settings(),
          services.soundPlayer(), foundation.events())
    , m_desktopNotifications([this](quint64 key) {
        if (m_notificationClicked)
            m_notificationClicked(m_incidentNotifications.addressOf(key));
    })
    , m_incidentNotifications(m_desktopNotifications)
    , m_push(foundation.status())
    , m_selfTest(m_monitoring, foundation.status())
{
    m_monitoring.setPrivilegedBinder(&m_portBinder);
    m_monitoring.setPacketWatch(&m_packetWatch);
    m_alert.intruderLog().reportLossesTo(&foundation.status());
    // What an alarm sets off after the status display and the outputs, in this order.
    IntrusionHandler& intrusions = m_monitoring.intrusions();
    intrusions.addObserver(&m_incidentNotifications);
    intrusions.addObserver(&m_push);
    intrusions.addObserver(&m_alert);
    intrusions.addObserver(&m_blocker);
    intrusions.setBlocker(&m_blocker);
    // "Block for 1 hour" or "Unblock" on an incident's notification.
    m_incidentNotifications.setBlocker(&m_blocker);
    m_desktopNotifications.setExtraActions(
        [this](quint64 key) { return m_incidentNotifications.actionsFor(key); },
        [this](quint64 key, const QString& action) { m_incidentNotifications.act(key, action); });
    connect(&m_networkWatch, &NetConnectionWatch::connectionChanged, this,
        [this](bool connected) { m_foundation.events().record(Event::networkChanged(connected)); });
}

void MonitorGroup::apply(const Settings& settings)
{
    const bool atStartup = !std::exchange(m_applied, true);
    // The outputs reopen only when their settings changed: a Cancel must not cut a log file.
    if (atStartup || m_appliedEvents != settings.events) {
        m_foundation.events().configure(settings.events, settings.appPath);
        m_appliedEvents = settings.events;
        // A collector that cannot be reached by its name sends nothing: said once, not silently.
        if (const QString& problem = settings.events.collector.problem; !problem.isEmpty())
            m_foundation.status().addStatusLine(
                QStringLiteral("Collector ") + problem + QStringLiteral(", nothing is sent"));
    }
    m_incidentNotifications.setEnabled(settings.alarm.notifications);
    m_push.configure(settings.push);
    m_monitoring.intrusions().configure(settings.alarm);
    m_blocker.configure(settings.alarm);
    if (atStartup && !settings.alarm.refused.isEmpty())
        m_foundation.status().addStatusLine(AllowList::refusalLine(settings.alarm.refused));
    // After the alarm section: scans end after its gap.
    m_monitoring.configureDetection(settings.detection, atStartup);
}
