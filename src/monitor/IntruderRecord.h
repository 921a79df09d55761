#pragma once

#include <QDateTime>
#include <QString>

// The latest intrusion: who connected and to which local port.
struct IntruderRecord
{
    // The peer's address: dotted decimal for IPv4 (also when it came as ::ffff:a.b.c.d),
    // the standard text form for IPv6.
    QString intruderIP;
    int attackedPort = 0;
    // Nothing ever fills it: the connection is dropped unread.
    QString intruderMessage;
    // The port the connection came from, and when it was taken.
    int sourcePort = 0;
    QDateTime time = {};
    // The incident the connection belongs to, and whether its alarm has sounded already: with one
    // alarm per scan, the disruptive actions then stay quiet.
    quint64 incidentId = 0;
    bool alarmAlreadyRaised = false;
};
