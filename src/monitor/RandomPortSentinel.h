#pragma once

#include "ListeningSocket.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>

class ProbeClassifier;

// How the sentinel moves: how often, and where to. Tests shorten the period and choose the ports.
struct SentinelSchedule
{
    std::chrono::milliseconds interval { 7000 };
    // Draws the next port; empty means uniform over 1..65535, reseeded from the clock each time.
    std::function<int()> drawPort;
};

// One more listener that moves to a freshly drawn port on every tick while it is loaded, so a
// scan of ports nobody serves may run into it anywhere. It does not listen until the first tick.
// A connection to it is an intrusion like any other.
class RandomPortSentinel : public QObject
{
    Q_OBJECT

public:
    RandomPortSentinel(ProbeClassifier& probes, SentinelSchedule schedule, QObject* parent = nullptr);

    // Starts the timer; loading a loaded sentinel changes nothing.
    void load();
    // Stops the timer and the socket; harmless when not loaded.
    void unload();
    bool isLoaded() const { return m_moveTimer.isActive(); }

    const ListeningSocket& socket() const { return m_socket; }

    // The draw used when the schedule brings none: uniform over 1..65535, reseeded from the clock.
    static int drawPortFromClock();

private:
    // Moves to a new port. A port that cannot be bound leaves the sentinel closed until the next
    // tick, without a word: nobody asked for that particular port.
    void movePort();

    ProbeClassifier& m_probes;
    std::function<int()> m_drawPort;
    ListeningSocket m_socket;
    QTimer m_moveTimer;
};
