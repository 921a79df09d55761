#pragma once

#include "IpAddress.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <chrono>

// Intrusions from one source that follow each other within the scan gap: one scan, one incident.
struct Incident
{
    quint64 id = 0; // from 1, in the order incidents start
    IpAddress source;
    QString address; // the source as text, written once when the incident starts
    QDateTime first;
    QDateTime last;
    QList<int> ports; // in the order they were touched, each once
    int count = 0; // connections, repeats included
    std::chrono::milliseconds lastSeen {}; // on the tracker's clock, for the gap
};
