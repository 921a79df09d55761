#pragma once

#include "IntrusionObserver.h"
#include "IpAddress.h"
#include "Throttle.h"

#include <QHash>
#include <QList>
#include <QString>

class NotificationService;

// One desktop notification per incident, updated as the scan touches more ports; its "Show"
// action brings the monitor window back.
//
// Every source is an incident of its own, and a host can send from countless addresses, so only
// Burst new incidents at once, then one per RateInterval, get a notification of their own. The
// others are counted in one more notification, "312 more sources", updated in place likewise.
class IncidentNotifications final : public IntrusionObserver
{
public:
    static constexpr qsizetype MaxListedPorts = 16;
    static constexpr int Burst = 5;
    static constexpr std::chrono::seconds RateInterval { 12 };
    // The key of the notification that counts the sources beyond the rate; incidents count from 1.
    static constexpr quint64 MoreSourcesKey = 0;

    explicit IncidentNotifications(
        NotificationService& service, Throttle::Clock clock = &Throttle::steadyNow);

    void setEnabled(bool enabled) { m_enabled = enabled; }
    bool isEnabled() const { return m_enabled; }

    void intrusion(const Intrusion& intrusion) override;

    static QString summary() { return QStringLiteral("Intruder Detected"); }
    QString body(const Incident& incident, int port);
    // The source of an incident whose notification is still updated; null for any other key.
    IpAddress addressOf(quint64 key) const { return m_addresses.value(key); }

private:
    // How many incidents with a notification of their own are still updated: at the rate, the
    // last quarter of an hour's or more. An older one's notification stays as it was last shown.
    static constexpr qsizetype MaxUpdated = 64;
    // A minute without a source beyond the rate and the count starts again from one.
    static constexpr std::chrono::seconds MoreSourcesReset { 60 };

    void countMoreSources();
    static QString moreSourcesBody(quint64 sources);

    NotificationService& m_service;
    Throttle::Clock m_clock;
    Throttle m_rate;
    bool m_enabled = true;
    QList<quint64> m_updated; // oldest first
    QHash<quint64, IpAddress> m_addresses; // of the incidents in m_updated
    quint64 m_moreSources = 0;
    std::chrono::milliseconds m_lastMoreSource {};
    // The port list of the body, kept while its incident touches no new port: a scan's flood of
    // connections to the same few ports would build the same list for every one.
    QList<int> m_listedPorts;
    QString m_portList;
};
