#pragma once

#include <QStringList>

class SettingsStore;

// The "Detection" and "UDP Ports" sections of the store: which probes that never complete a
// connection raise an alarm, when a source counts as scanning, and the UDP tripwires. They came
// after the original sections, so they never touch those keys; a store from before them gets both
// sections with their first-start values on the next start.
struct DetectionSettings
{
    static constexpr auto Section = "Detection";
    static constexpr auto UdpSection = "UDP Ports";

    bool halfOpen = true; // a SYN to a guarded port that no accepted connection follows
    bool stealthFlags = true; // FIN, NULL, Xmas and the other flag sets no connection sends
    bool portScan = true;
    // A source is scanning once it touched this many distinct ports within the window.
    int scanPorts = 8;
    int scanWindowSeconds = 3;
    // Entries as typed, like the TCP list: "Number" is the last index, keys "0".."n".
    QStringList udpPorts;

    // The UDP list a first start writes: ports scanners probe, none a desktop itself serves.
    static QStringList defaultUdpPorts();

    // Writes what the store lacks with its first-start value, then reads both sections. Values
    // that make no sense read as the first-start value.
    static DetectionSettings load(SettingsStore& store);
    // Writes both sections and syncs; entries beyond the new last index stay, as with "Ports".
    void save(SettingsStore& store) const;

    bool operator==(const DetectionSettings&) const = default;
};
