#pragma once

#include "IncidentObserver.h"

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
    static QString body(const Incident& incident, int port);

private:
    NotificationService& m_service;
    bool m_enabled = true;
};
