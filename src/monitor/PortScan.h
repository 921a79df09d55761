#pragma once

#include "IpAddress.h"

#include <QList>

// One source seen touching many ports: what the scan tracker knows of it when it crosses the
// threshold and when it ends.
struct PortScan
{
    // Listed in the events; a full sweep would otherwise make a record of 65535 numbers.
    static constexpr int MaxListedPorts = 64;

    IpAddress address;
    QList<int> ports; // the first MaxListedPorts distinct ports, in the order touched
    int portCount = 0; // distinct ports so far
    int lastPort = 0; // the one that crossed the threshold
    int windowSeconds = 0; // the window it crossed the threshold in
    bool spoofable = false; // some of its probes completed no connection
    // Set when the scan is reported: the incident its alarm belongs to, or that it was allowed.
    quint64 incident = 0;
    bool allowed = false;
};
