#include "RandomPortSentinel.h"

#include "ProbeClassifier.h"

#include <random>

RandomPortSentinel::RandomPortSentinel(ProbeClassifier& probes, SentinelSchedule schedule, QObject* parent)
    : QObject(parent)
    , m_probes(probes)
    , m_drawPort(schedule.drawPort ? std::move(schedule.drawPort) : drawPortFromClock)
{
    m_moveTimer.setInterval(schedule.interval);
    connect(&m_moveTimer, &QTimer::timeout, this, &RandomPortSentinel::movePort);
    connect(&m_socket, &ListeningSocket::connectionAccepted, this,
        [this](const IpAddress& peer, int port, int peerPort) { m_probes.connectionSeen(peer, port, peerPort, true); });
}

void RandomPortSentinel::load()
{
    if (!m_moveTimer.isActive())
        m_moveTimer.start();
}

void RandomPortSentinel::unload()
{
    m_moveTimer.stop();
    m_socket.close();
}

void RandomPortSentinel::movePort()
{
    const int port = m_drawPort();
    m_socket.close();
    m_socket.setLocalPort(port);
    // Nobody asked for this port: one that cannot be bound waits silently for the next draw.
    static_cast<void>(m_socket.listen());
}

int RandomPortSentinel::drawPortFromClock()
{
    std::mt19937 generator(
        std::mt19937::result_type(std::chrono::system_clock::now().time_since_epoch().count()));
    // Port 0 would ask the system for any free port, not for one a scan could run into;
    // the real ports are 1..65535.
    return std::uniform_int_distribution<int>(1, 65535)(generator);
}
