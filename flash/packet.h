#pragma once

#include "link/link.h"

#include <array>
#include <cstdint>
#include <QByteArrayView>
#include <QString>

namespace tqb9 {

class MemoryImage;

// Every flash packet: FF FE, two type letters, 1027 payload bytes, checksum.
using Packet = std::array<std::uint8_t, Link::kPacketSize>;

inline constexpr std::size_t kChecksumAt = Link::kPacketSize - 1;

// Sum of bytes 2..1030 modulo 256: the type letters and payload, not the FF FE header.
std::uint8_t packetChecksum(const Packet& packet);

// Erase of the eight blocks below the radio's top 4 KB block, which holds what the radio needs
// to start and is never erased.
Packet erasePacket();
Packet endPacket();
// Program packet for the 64 rows from row, which must start a 1 KB block. Throws ImageRangeError
// for rows outside the image.
void buildProgramPacket(Packet& packet, const MemoryImage& image, long row);

// What a trace calls bytes that were sent: "packet BE", "packet PG, address 0xC0400", or an
// empty string for anything that is not a flash packet.
QString describePacket(QByteArrayView sent);

inline QByteArrayView bytesOf(const Packet& packet)
{
    return {reinterpret_cast<const char*>(packet.data()), static_cast<qsizetype>(packet.size())};
}

} // namespace tqb9
