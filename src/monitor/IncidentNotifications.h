#pragma once

#include "IntrusionObserver.h"
#include "IpAddress.h"
#include "Throttle.h"

#include <QHash>
#include <QList>
#include <QMetaObject>
#include <QString>
#include <QStringList>

class IntruderBlocker;
class NotificationService;

// One desktop notification per incident, updated as the scan touches more ports; its "Show"
// action brings the monitor window back. It says how the latest intrusion was seen, whether its
// address may be forged, and which ports were UDP ("53/udp").
//
// With a blocker, the notification offers "Block for 1 hour" where a block by hand could be had
// now; once its source is blocked, however that came about, the same notification says until when
// and offers "Unblock" instead.
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
    static constexpr int BlockSeconds = 60 * 60;
    // The key of the notification that counts the sources beyond the rate; incidents count from 1.
    static constexpr quint64 MoreSourcesKey = 0;

    explicit IncidentNotifications(
        NotificationService& service, Throttle::Clock clock = &Throttle::steadyNow);
    ~IncidentNotifications() override;

    void setEnabled(bool enabled) { m_enabled = enabled; }
    bool isEnabled() const { return m_enabled; }
    // The blocker outlives this.
    void setBlocker(IntruderBlocker* blocker);

    void intrusion(const Intrusion& intrusion) override;

    static QString summary() { return QStringLiteral("Intruder Detected"); }
    // The buttons of a key's notification beyond "Show", as action names and labels in turn, and
    // what one of them does.
    QStringList actionsFor(quint64 key);
    void act(quint64 key, const QString& action);
    // The source of a key's notification while it is still updated; null for any other key.
    IpAddress addressOf(quint64 key) const { return m_notified.value(key).address; }

private:
    // How many incidents with a notification of their own are still updated: at the rate, the
    // last quarter of an hour's or more. An older one's notification stays as it was last shown.
    static constexpr qsizetype MaxUpdated = 64;
    // A minute without a source beyond the rate and the count starts again from one.
    static constexpr std::chrono::seconds MoreSourcesReset { 60 };

    struct Notified
    {
        IpAddress address;
        // Of the ports the body lists, those a TCP probe or connection touched, and those a UDP
        // datagram did: a port number may be both.
        QList<int> tcp;
        QList<int> udp;
        QString text; // the body shown last, without its block line
        QString blockLine;
    };

    void countMoreSources();
    static QString moreSourcesBody(quint64 sources);
    QString body(const Incident& incident, const Notified& notified, const IntruderRecord& intruder);
    const QString& portList(const Incident& incident, const Notified& notified);
    QString blockLine(const IpAddress& address) const;
    void blockingChanged();

    NotificationService& m_service;
    Throttle::Clock m_clock;
    Throttle m_rate;
    bool m_enabled = true;
    IntruderBlocker* m_blocker = nullptr;
    QMetaObject::Connection m_blockerChanged;
    QList<quint64> m_updated; // oldest first
    QHash<quint64, Notified> m_notified; // of the incidents in m_updated
    quint64 m_moreSources = 0;
    std::chrono::milliseconds m_lastMoreSource {};
    // The port list of the body, kept while its incident touches no new port: a scan's flood of
    // connections to the same few ports would build the same list for every one.
    quint64 m_listedIncident = 0;
    QList<int> m_listedPorts;
    qsizetype m_listedLabels = 0;
    QString m_portList;
};
