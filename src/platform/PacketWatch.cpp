#include "PacketWatch.h"

PacketWatch::PacketWatch(QObject* parent)
    : QObject(parent)
{
}

PacketWatch::~PacketWatch()
{
    stop();
}

PacketWatch::State PacketWatch::start()
{
    m_state = State::NeedsPrivilege;
    return m_state;
}

void PacketWatch::stop()
{
    m_state = State::Off;
}
