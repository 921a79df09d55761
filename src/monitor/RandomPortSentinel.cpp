#include "RandomPortSentinel.h"

#include "IntrusionHandler.h"

#include <random>

RandomPortSentinel::RandomPortSentinel(
    IntrusionHandler& intrusions, SentinelSchedule schedule, QObject* parent)
    : QObject(parent)
    , m_intrusions(intrusions)
    , m_drawPort(schedule.drawPort ? std::move(schedule.drawPort) : drawPortFromClock)
{
    m_timRps.setInterval(schedule.interval);
    connect(&m_timRps, &QTimer::timeout, this, &RandomPortSentinel::timRpsTimer);
    connect(&m_wsRps, &ListeningSocket::connectionAccepted, this,
        [this](const QString& peer, int port, int peerPort) {
            m_intrusions.handleIntrusion(peer, port, peerPort, true);
        });
}

void RandomPortSentinel::load()
{
    if (!m_timRps.isActive())
        m_timRps.start();
}

void RandomPortSentinel::unload()
{
    m_timRps.stop();
    m_wsRps.close();
}

void RandomPortSentinel::timRpsTimer()
{
    const int port = m_drawPort();
    m_wsRps.close();
    m_wsRps.setLocalPort(port);
    m_wsRps.listen();
}

int RandomPortSentinel::drawPortFromClock()
{
    std::mt19937 generator(
        std::mt19937::result_type(std::chrono::system_clock::now().time_since_epoch().count()));
    // Port 0 would ask the system for any free port, not for one a scan could run into;
    // the real ports are 1..65535.
    return std::uniform_int_distribution<int>(1, 65535)(generator);
}
