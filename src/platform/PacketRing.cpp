#include "PacketRing.h"

#include <sys/mman.h>
#include <sys/socket.h>

bool PacketRing::attach(int fd)
{
    detach();
    const int version = TPACKET_V3;
    if (::setsockopt(fd, SOL_PACKET, PACKET_VERSION, &version, sizeof version) != 0)
        return false;
    tpacket_req3 request {};
    request.tp_block_size = BlockSize;
    request.tp_block_nr = BlockCount;
    // Packets in a block take only the room they need; the frame size only has to divide it.
    request.tp_frame_size = 2048;
    request.tp_frame_nr = BlockSize / request.tp_frame_size * BlockCount;
    request.tp_retire_blk_tov = RetireMs;
    if (::setsockopt(fd, SOL_PACKET, PACKET_RX_RING, &request, sizeof request) != 0)
        return false;
    void* memory
        = ::mmap(nullptr, std::size_t(BlockSize) * BlockCount, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (memory == MAP_FAILED) {
        const tpacket_req3 none {};
        ::setsockopt(fd, SOL_PACKET, PACKET_RX_RING, &none, sizeof none);
        return false;
    }
    m_memory = static_cast<std::uint8_t*>(memory);
    m_next = 0;
    return true;
}

void PacketRing::detach()
{
    if (m_memory)
        ::munmap(m_memory, std::size_t(BlockSize) * BlockCount);
    m_memory = nullptr;
}
