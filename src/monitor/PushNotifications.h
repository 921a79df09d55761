#pragma once

#include "EventFormat.h"
#include "IntrusionObserver.h"
#include "PushDelivery.h"

class StatusReporter;

// Reaches the user away from the desk: one push when an incident starts and one summary when it
// ends, never one per connection, through the service of the "Push" settings. A webhook gets the
// two events' records exactly as events.jsonl holds them.
class PushNotifications final : public IntrusionObserver
{
public:
    // The ports a summary names; the count says the rest.
    static constexpr qsizetype MaxListedPorts = 16;

    explicit PushNotifications(StatusReporter& status, PushTiming timing = {});

    void configure(const Settings::Push& settings) { m_delivery.configure(settings); }
    PushDelivery& delivery() { return m_delivery; }

    void intrusion(const Intrusion& intrusion) override;
    void incidentEnded(const Incident& incident, const Event& record) override;

private:
    EventFormat m_format;
    PushDelivery m_delivery;
};
