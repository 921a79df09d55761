#pragma once

#include "IncidentObserver.h"

#include <QList>
#include <QString>

class NotificationService;

// One desktop notification per incident, updated as the scan touches more ports; its "Show"
// action brings the monitor window back.
class IncidentNotifications final : public IncidentObserver
{
public:
    static constexpr qsizetype MaxListedPorts = 16;

    explicit IncidentNotifications(NotificationService& service);

    void setEnabled(bool enabled) { m_enabled = enabled; }
    bool isEnabled() const { return m_enabled; }

    void incidentUpdated(const Incident& incident, int port) override;

    static QString summary() { return QStringLiteral("Intruder Detected"); }
    QString body(const Incident& incident, int port);

private:
    NotificationService& m_service;
    bool m_enabled = true;
    // The port list of the body, kept while its incident touches no new port: a scan's flood of
    // connections to the same few ports would build the same list for every one.
    QList<int> m_listedPorts;
    QString m_portList;
};
