#include "flash/flasher.h"
#include "image/firmware.h"
#include "link/link.h"
#include "link/reply.h"
#include "sim/simradio.h"
#include "support/scriptedline.h"
#include "tests/simscript.h"

#include <chrono>
#include <gtest/gtest.h>

namespace tqb9 {
namespace {

using namespace std::chrono_literals;
using sim::Command;
using sim::Response;
using sim::SimRadio;
using simscript::onCommand;
using simscript::replying;

QByteArray bytes(const Packet& packet)
{
    return {reinterpret_cast<const char*>(packet.data()), static_cast<qsizetype>(packet.size())};
}

// On the scripted line with the radio's 5000 ms window on a virtual clock.
class FlasherTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Firmware firmware = Firmware::builtIn();
        // The figures below are the test image's; a build with other firmware loads it as a file.
        if (!firmware.isTestImage()) {
            auto loaded = Firmware::fromFile(QStringLiteral(TQB9_SOURCE_DIR "/image/firmware.s19"));
            ASSERT_TRUE(std::holds_alternative<Firmware>(loaded));
            firmware = std::get<Firmware>(std::move(loaded));
        }
        image = firmware.image();
        m_link.setLine(std::make_unique<testing::ScriptedLine>(clock, radio));
        m_link.setWindow(std::make_unique<testing::VirtualWindow>(clock));
        m_link.setDevice(testing::ScriptedLine::kDevice);
        ASSERT_EQ(m_link.ConnectRadio(), reply::CT);
    }

    Link& link() { return m_link; }
    Flasher& flasher() { return m_flasher; }

    int sent(Command command) const { return radio.count(command); }
    QList<QByteArray> packetsOf(Command command) const
    {
        QList<QByteArray> packets;
        for (const sim::Exchange& exchange : radio.log()) {
            if (exchange.request.command == command)
                packets.append(exchange.request.bytes);
        }
        return packets;
    }

    testing::VirtualClock clock;
    SimRadio radio;
    Link m_link;
    MemoryImage image;
    Flasher m_flasher{m_link, image};
};

struct AttemptCase {
    const char* name;
    Command command;
    std::optional<QByteArray> reply; // every attempt; nullopt: the radio's own
    std::int16_t result;
    int transmissions;
};

class AttemptLoop : public FlasherTest, public ::testing::WithParamInterface<AttemptCase> {};

TEST_P(AttemptLoop, AcceptedRepliesEndItOthersUseAnAttempt)
{
    const AttemptCase& c = GetParam();
    if (c.reply)
        radio.setScript(
            onCommand(c.command, [c](const sim::Request&) { return replying(*c.reply); }));
    if (c.command == Command::End) {
        ASSERT_EQ(flasher().EraseBlocks(), reply::BE);
    }

    const std::int16_t result =
        c.command == Command::Erase ? flasher().EraseBlocks() : flasher().EndSession();
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(sent(c.command), c.transmissions);
    EXPECT_FALSE(link().line().isOpen());

    // Every attempt sends the same, fixed packet.
    const QByteArray expected = bytes(c.command == Command::Erase ? erasePacket() : endPacket());
    for (const QByteArray& packet : packetsOf(c.command))
        EXPECT_EQ(packet, expected);
}

INSTANTIATE_TEST_SUITE_P(
    EraseAndEnd, AttemptLoop,
    ::testing::Values(AttemptCase{"EraseBE", Command::Erase, std::nullopt, reply::BE, 1},
                      AttemptCase{"EraseOkIsReturned", Command::Erase, "OK\r\n", reply::OK, 1},
                      AttemptCase{"EraseNgThreeTimes", Command::Erase, "NG\r\n", 1, 3},
                      AttemptCase{"EraseEndReplyIsNotAccepted", Command::Erase, "ED\r\n", 1, 3},
                      AttemptCase{"EraseSilent", Command::Erase, "", 1, 3},
                      AttemptCase{"EndED", Command::End, std::nullopt, reply::ED, 1},
                      AttemptCase{"EndOkIsReturned", Command::End, "OK\r\n", reply::OK, 1},
                      AttemptCase{"EndNgTenTimes", Command::End, "NG\r\n", 1, 10},
                      AttemptCase{"EndEraseReplyIsNotAccepted", Command::End, "BE\r\n", 1, 10}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(FlasherTest, WritesTheBuiltInFirmwareExactly)
{
    QList<int> bar;
    QObject::connect(&flasher(), &Flasher::barValue, [&bar](int row) { bar.append(row); });

    ASSERT_EQ(flasher().EraseBlocks(), reply::BE);
    EXPECT_EQ(flasher().WriteBlocks(), 0);
    EXPECT_FALSE(flasher().writeStoppedAt());
    EXPECT_EQ(flasher().EndSession(), reply::ED);
    EXPECT_FALSE(link().line().isOpen());

    EXPECT_EQ(sent(Command::Program), 250);
    EXPECT_EQ(Firmware::fromImage(image).blocks().size(), 250u);
    const QByteArray flash = radio.flash();
    for (long address = 0xC0000; address <= 0xFEFFF; ++address) {
        ASSERT_EQ(static_cast<std::uint8_t>(flash[static_cast<qsizetype>(address - 0xC0000)]),
                  image.byteAt(address))
            << std::hex << address;
    }
    for (const quint32 block : radio.writtenBlocks())
        EXPECT_LT(block, 0xFF000U);
    EXPECT_TRUE(radio.errors().isEmpty());

    // The bar visits every block's first row once, skipped blocks included, and stops short of
    // the end.
    ASSERT_EQ(bar.size(), 252);
    for (int i = 0; i < bar.size(); ++i)
        EXPECT_EQ(bar[i], 0xC000 + 64 * i);
    EXPECT_EQ(bar.back(), 0xFEC0);
}

TEST_F(FlasherTest, BlockRefusedTenTimesStopsTheWrite)
{
    constexpr quint32 kRefused = 0xC0400;
    radio.setScript(onCommand(Command::Program, [](const sim::Request& request) {
        return request.address == kRefused ? std::optional(replying("NG\r\n")) : std::nullopt;
    }));
    ASSERT_EQ(flasher().EraseBlocks(), reply::BE);
    EXPECT_EQ(flasher().WriteBlocks(), 1);
    EXPECT_FALSE(link().line().isOpen());
    EXPECT_EQ(flasher().writeStoppedAt(), std::optional<long>(kRefused));

    const QList<QByteArray> packets = packetsOf(Command::Program);
    ASSERT_EQ(packets.size(), 1 + 10); // the block before it, then ten tries of the same block
    for (qsizetype i = 1; i < packets.size(); ++i)
        EXPECT_EQ(packets[i], packets[1]);
    EXPECT_EQ(packets[1].sliced(4, 3), QByteArray::fromHex("0c0400"));
}

TEST_F(FlasherTest, BlockAcceptedOnItsTenthAttemptCompletes)
{
    radio.setReplyLetters(Command::Program, "PG"); // as readily accepted as "OK"
    radio.setScript(onCommand(Command::Program, [](const sim::Request& request) {
        const bool refuse = request.address == 0xFEC00 && request.attempt < 10;
        return refuse ? std::optional(replying("OK\r")) : std::nullopt; // 1035 bytes: too short
    }));
    ASSERT_EQ(flasher().EraseBlocks(), reply::BE);
    EXPECT_EQ(flasher().WriteBlocks(), 0);
    EXPECT_EQ(sent(Command::Program), 250 + 9);
}

TEST_F(FlasherTest, PortThatCannotBeOpenedGivesMinusOne)
{
    link().setDevice(QStringLiteral("/dev/tq-b9-no-such-device"));
    EXPECT_EQ(flasher().EraseBlocks(), -1);
    EXPECT_EQ(flasher().WriteBlocks(), -1);
    EXPECT_EQ(flasher().EndSession(), -1);
    EXPECT_EQ(sent(Command::Erase) + sent(Command::Program) + sent(Command::End), 0);
}

// Blocks without a used row below the boot block are passed over; the one with a used row goes
// whole, erased bytes included.
TEST_F(FlasherTest, SendsOnlyBlocksWithAUsedRowAndEachWhole)
{
    MemoryImage oneRow;
    oneRow.setMemory(0xD013, 4, 0x5A);
    oneRow.markRowUsed(0xD013);
    oneRow.setMemory(0xFF00, 0, 0); // data above the write range is never sent
    oneRow.markRowUsed(0xFF00);
    Flasher single(link(), oneRow);
    ASSERT_EQ(flasher().EraseBlocks(), reply::BE);
    EXPECT_EQ(single.WriteBlocks(), 0);
    const QList<QByteArray> packets = packetsOf(Command::Program);
    ASSERT_EQ(packets.size(), 1);
    EXPECT_EQ(packets[0].sliced(4, 3), QByteArray::fromHex("0d0000"));
    QByteArray data(1024, '\xFF');
    data[0x134] = '\x5A';
    EXPECT_EQ(packets[0].sliced(7, 1024), data);
}

} // namespace
} // namespace tqb9
