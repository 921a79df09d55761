#pragma once

#include <QString>

class SettingsStore;

// The "Events" section of the store: which machine-readable outputs are on. It came after the
// original sections, so it never touches their keys; a store from before it gets the section
// with its first-start values on the next start.
struct EventSettings
{
    static constexpr auto Section = "Events";

    bool eventLog = true;
    int eventLogSizeMb = 10;
    int eventLogFiles = 5;
    bool syslog = true;
    QString collector; // "host:port", an IPv6 host in brackets; empty for off
    QString collectorProtocol = QStringLiteral("tcp"); // "tcp" or "udp"

    // Writes the keys the store lacks with their first-start values, then reads the section.
    // Values that make no sense read as the first-start value.
    static EventSettings load(SettingsStore& store);
    // Writes all six keys and syncs.
    void save(SettingsStore& store) const;

    // Splits "host:port" or "[v6]:port"; false when it is not of that form.
    static bool splitCollector(const QString& text, QString* host, int* port);
    bool collectorUsesUdp() const;
    bool operator==(const EventSettings&) const = default;
};
