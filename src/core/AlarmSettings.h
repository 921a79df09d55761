#pragma once

#include <QString>

class SettingsStore;

// The "Alarm" section of the store: how intrusions are grouped into incidents, which sources
// are allowed, and whether the desktop is notified. It came after the original sections and
// after "Events", so it never touches their keys; a store from before it gets the section with
// its first-start values on the next start.
struct AlarmSettings
{
    static constexpr auto Section = "Alarm";

    // The disruptive alert actions run once per incident instead of once per connection.
    bool oneAlarmPerScan = false;
    // Seconds without a connection from a source after which its incident ends.
    int scanGapSeconds = 60;
    // Addresses and ranges, separated by commas or blanks; read with AllowList::parse.
    QString allow;
    bool notifications = true;
    // Automatic blocking of intruders at the firewall, and for how long.
    bool blockIntruders = false;
    int blockMinutes = 60;

    // Writes the keys the store lacks with their first-start values, then reads the section.
    // Values that make no sense read as the first-start value.
    static AlarmSettings load(SettingsStore& store);
    // Writes all its keys and syncs.
    void save(SettingsStore& store) const;
};
