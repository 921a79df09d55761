#pragma once

#include <QString>

class SettingsStore;

// The "Push" section of the store: the service that carries an incident to the user's phone, its
// address and its secret. It came after the other sections and never touches their keys; a store
// from before it gets the section with its first-start values (no service) on the next start.
struct PushSettings
{
    static constexpr auto Section = "Push";

    enum class Service { None, Ntfy, Gotify, Webhook };

    // As stored and shown: "none", "ntfy", "gotify" or "webhook".
    QString service = QStringLiteral("none");
    QString url; // ntfy: the topic's URL; Gotify: the server's; webhook: where the records go
    // ntfy: an access token (sent as a bearer token); Gotify: the application's token. Kept only
    // here, in the private settings file: never in a status line, an event or an error text.
    QString token;

    static PushSettings load(SettingsStore& store);
    // Writes the three keys and syncs.
    void save(SettingsStore& store) const;

    // A service name the program does not know reads as none.
    Service kind() const;
    // On: a service and an address to send to.
    bool isOn() const { return kind() != Service::None && !url.isEmpty(); }
    bool operator==(const PushSettings&) const = default;
};
