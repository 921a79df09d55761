#pragma once

#include <cstddef>
#include <cstdint>

#include <linux/if_packet.h>

// The receive ring of a packet socket (TPACKET_V3): the kernel writes each packet straight into
// memory this process maps and hands it over a block of packets at a time, so a flood costs no
// copy and no system call per packet, and one wake-up per block instead of one per few packets.
// A socket needs no privilege to get a ring, so the one the watch helper hands over can have one.
class PacketRing
{
public:
    // A block is handed over when full or this long after its first packet: a lone probe waits
    // at most that long.
    static constexpr unsigned RetireMs = 10;
    static constexpr unsigned BlockSize = 1 << 16;
    static constexpr unsigned BlockCount = 64;

    PacketRing() = default;
    ~PacketRing() { detach(); }
    PacketRing(const PacketRing&) = delete;
    PacketRing& operator=(const PacketRing&) = delete;

    // False when the kernel would not make or map the ring; the socket is then as it was.
    [[nodiscard]] bool attach(int fd);
    void detach();

    // Calls visit(data, size) for each packet (the network header on) of at most maxBlocks
    // handed-over blocks, then gives them back; returns how many it read.
    template <typename Visit>
    int read(int maxBlocks, Visit&& visit);

private:
    tpacket_block_desc* block(unsigned index) const
    {
        return reinterpret_cast<tpacket_block_desc*>(m_memory + std::size_t(index) * BlockSize);
    }

    std::uint8_t* m_memory = nullptr;
    unsigned m_next = 0;
};

template <typename Visit>
int PacketRing::read(int maxBlocks, Visit&& visit)
{
    int blocks = 0;
    for (; blocks < maxBlocks && m_memory; ++blocks) {
        tpacket_block_desc* const desc = block(m_next);
        tpacket_hdr_v1& header = desc->hdr.bh1;
        if ((__atomic_load_n(&header.block_status, __ATOMIC_ACQUIRE) & TP_STATUS_USER) == 0)
            break;
        const std::uint8_t* const start = reinterpret_cast<const std::uint8_t*>(desc);
        std::size_t offset = header.offset_to_first_pkt;
        for (std::uint32_t i = 0; i < header.num_pkts && offset + sizeof(tpacket3_hdr) <= BlockSize; ++i) {
            const auto* packet = reinterpret_cast<const tpacket3_hdr*>(start + offset);
            if (offset + packet->tp_net + packet->tp_snaplen <= BlockSize)
                visit(start + offset + packet->tp_net, std::size_t(packet->tp_snaplen));
            if (packet->tp_next_offset == 0)
                break;
            offset += packet->tp_next_offset;
        }
        __atomic_store_n(&header.block_status, TP_STATUS_KERNEL, __ATOMIC_RELEASE);
        m_next = (m_next + 1) % BlockCount;
    }
    return blocks;
}
