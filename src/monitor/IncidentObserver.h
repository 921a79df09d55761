#pragma once

struct Event;
struct Incident;

// Told of every intrusion with its incident as it stands after it, e.g. to notify the desktop,
// and of the incident's end. Each record is the event as the outputs numbered it.
class IncidentObserver
{
public:
    virtual ~IncidentObserver() = default;
    // port: the port this connection touched; incident.count == 1 for the first of an incident.
    virtual void incidentUpdated(const Incident& incident, int port, const Event& record) = 0;
    virtual void incidentEnded(const Incident&, const Event& /*record*/) { }
};
