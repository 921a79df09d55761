#pragma once

struct Incident;

// Told of every intrusion with its incident as it stands after it, e.g. to notify the desktop.
class IncidentObserver
{
public:
    virtual ~IncidentObserver() = default;
    // port: the port this connection touched; incident.count == 1 for the first of an incident.
    virtual void incidentUpdated(const Incident& incident, int port) = 0;
};
