#include "flash/packet.h"
#include "image/memoryimage.h"

#include <gtest/gtest.h>
#include <QByteArray>

namespace tqb9 {
namespace {

QByteArray bytes(const Packet& packet)
{
    return {reinterpret_cast<const char*>(packet.data()), static_cast<qsizetype>(packet.size())};
}

TEST(ErasePacket, MatchesTheRadiosBlockListByteForByte)
{
    const QByteArray packet = bytes(erasePacket());
    ASSERT_EQ(packet.size(), 1032);
    EXPECT_EQ(packet.first(40).toHex(' '),
              QByteArray("ff fe 42 45 00 0f ef fe 00 0f df fe 00 0f bf fe 00 0f 9f fe 00 0f 7f fe "
                         "00 0e ff fe 00 0d ff fe 00 0c ff fe ff ff ff ff"));
    EXPECT_EQ(packet.sliced(40, 991), QByteArray(991, '\xFF'));
    EXPECT_EQ(static_cast<std::uint8_t>(packet[1031]), 0xAE);
}

TEST(EndPacket, IsHeaderLettersFillerAndChecksum86)
{
    const QByteArray packet = bytes(endPacket());
    EXPECT_EQ(packet.first(4), QByteArray::fromHex("fffe4544"));
    EXPECT_EQ(packet.sliced(4, 1027), QByteArray(1027, '\xFF'));
    EXPECT_EQ(static_cast<std::uint8_t>(packet[1031]), 0x86);
}

TEST(ProgramPacket, AllZeroBlockAtC0000HasChecksumA3)
{
    MemoryImage image;
    for (long row = 0xC000; row < 0xC040; ++row) {
        for (long column = 0; column < 16; ++column)
            image.setMemory(row, column, 0);
    }
    Packet packet{};
    buildProgramPacket(packet, image, 0xC000);
    const QByteArray b = bytes(packet);
    EXPECT_EQ(b.first(7), QByteArray::fromHex("fffe50470c0000"));
    EXPECT_EQ(b.sliced(7, 1024), QByteArray(1024, '\0'));
    EXPECT_EQ(static_cast<std::uint8_t>(b[1031]), 0xA3);
}

TEST(ProgramPacket, CarriesAddressAndImageBytesInAddressOrder)
{
    MemoryImage image;
    image.setMemory(0xFEC0, 0, 0x11);  // first byte of the last block written
    image.setMemory(0xFEFF, 15, 0x22); // its last byte
    image.setMemory(0xFF00, 0, 0x33);  // first byte above it: never in a packet
    Packet packet{};
    buildProgramPacket(packet, image, 0xFEC0);
    const QByteArray b = bytes(packet);
    EXPECT_EQ(b.sliced(4, 3), QByteArray::fromHex("0fec00"));
    EXPECT_EQ(static_cast<std::uint8_t>(b[7]), 0x11);
    EXPECT_EQ(static_cast<std::uint8_t>(b[1030]), 0x22);
    EXPECT_EQ(b.sliced(8, 1022), QByteArray(1022, '\xFF'));

    buildProgramPacket(packet, image, 0xC400);
    EXPECT_EQ(bytes(packet).sliced(4, 3), QByteArray::fromHex("0c4000"));
}

TEST(ProgramPacket, RefusesRowsOutsideTheImage)
{
    MemoryImage image;
    Packet packet{};
    EXPECT_THROW(buildProgramPacket(packet, image, 0xFFC1), ImageRangeError);
    EXPECT_THROW(buildProgramPacket(packet, image, 0xBFC0), ImageRangeError);
}

} // namespace
} // namespace tqb9
