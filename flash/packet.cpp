#include "flash/packet.h"

#include "image/firmware.h"
#include "image/firmwarefile.h"
#include "image/memoryimage.h"

#include <numeric>

namespace tqb9 {
namespace {

constexpr std::uint8_t kErasedByte = 0xFF;

constexpr std::uint32_t kNoBlock = 0xFFFFFFFF;

Packet blankPacket(char first, char second)
{
    Packet packet;
    packet.fill(kErasedByte);
    packet[0] = 0xFF;
    packet[1] = 0xFE;
    packet[2] = static_cast<std::uint8_t>(first);
    packet[3] = static_cast<std::uint8_t>(second);
    return packet;
}

void putBigEndian32(Packet& packet, std::size_t at, std::uint32_t value)
{
    for (std::size_t i = 0; i < 4; ++i)
        packet[at + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

} // namespace

std::uint8_t packetChecksum(const Packet& packet)
{
    const unsigned sum = std::accumulate(packet.begin() + 2, packet.begin() + kChecksumAt, 0U);
    return static_cast<std::uint8_t>(sum % 256);
}

Packet erasePacket()
{
    Packet packet = blankPacket('B', 'E');
    std::size_t at = 4;
    // From the top down, each named by its highest even address: that is how the radio takes
    // them.
    for (auto block = kEraseBlocks.rbegin(); block != kEraseBlocks.rend(); ++block) {
        putBigEndian32(packet, at, block->last - 1);
        at += 4;
    }
    putBigEndian32(packet, at, kNoBlock);
    packet[kChecksumAt] = packetChecksum(packet);
    return packet;
}

Packet endPacket()
{
    Packet packet = blankPacket('E', 'D');
    packet[kChecksumAt] = packetChecksum(packet);
    return packet;
}

void buildProgramPacket(Packet& packet, const MemoryImage& image, long row)
{
    packet[0] = 0xFF;
    packet[1] = 0xFE;
    packet[2] = 'P';
    packet[3] = 'G';
    // 24-bit address of the block's first byte, most significant byte first.
    packet[4] = static_cast<std::uint8_t>(row / 4096);
    packet[5] = static_cast<std::uint8_t>((row % 4096) / 16);
    packet[6] = static_cast<std::uint8_t>((row % 16) * 16);
    std::size_t at = 7;
    for (long k = 0; k < 64; ++k) {
        for (long column = 0; column < MemoryImage::kColumns; ++column)
            packet[at++] = static_cast<std::uint8_t>(image.intMemory(row + k, column));
    }
    packet[kChecksumAt] = packetChecksum(packet);
}

QString describePacket(QByteArrayView sent)
{
    if (sent.size() != Link::kPacketSize || static_cast<std::uint8_t>(sent[0]) != 0xFF ||
        static_cast<std::uint8_t>(sent[1]) != 0xFE)
        return {};
    const QString letters = QString::fromLatin1(sent.sliced(2, 2));
    if (letters != QLatin1String("PG"))
        return QStringLiteral("packet %1").arg(letters);
    const auto byte = [&sent](int i) {
        return unsigned{static_cast<std::uint8_t>(sent[i])};
    };
    const unsigned address = (byte(4) << 16) | (byte(5) << 8) | byte(6);
    return QStringLiteral("packet PG, address %1").arg(addressText(address));
}

} // namespace tqb9
