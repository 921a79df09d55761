#pragma once

#include "IpAddress.h"

#include <QDateTime>
#include <QString>

// The latest intrusion: who connected and to which local port.
struct IntruderRecord
{
    // The peer's address as text (address below), written once for every output: dotted decimal
    // for IPv4, the standard form for IPv6.
    QString intruderIP;
    int attackedPort = 0;
    // Empty for a connection, which is dropped unread; for a probe that never completed one, what
    // was seen, in a few words.
    QString intruderMessage;
    // How it was seen, as the events name it ("connect", "half_open", ..., "port_scan"), and
    // whether the address may have been forged.
    const char* detection = "connect";
    bool spoofable = false;
    // The port the connection came from, and when it was taken.
    int sourcePort = 0;
    QDateTime time = {};
    // The incident the connection belongs to, and whether its alarm has sounded already: with one
    // alarm per scan, the disruptive actions then stay quiet.
    quint64 incidentId = 0;
    bool alarmAlreadyRaised = false;
    IpAddress address;
};
