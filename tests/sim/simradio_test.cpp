#include "sim/simradio.h"
#include "tests/sim/client.h"

#include <gtest/gtest.h>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSignalSpy>

namespace tqb9::sim::test {
namespace {

const QByteArray kQuery("ZK~TQ-B9E\r");
const QByteArray kConnect("ZK~FLASH\r");
// The erase packet the program sends: eight blocks from 0xFEFFE down to 0xCFFFE, one empty slot.
const QByteArray kErase =
    QByteArray::fromHex("FFFE4245000FEFFE000FDFFE000FBFFE000F9FFE000F7FFE000EFFFE000DFFFE"
                        "000CFFFEFFFFFFFF") +
    QByteArray(991, '\xFF') + QByteArray("\xAE", 1);
const QByteArray kEnd =
    QByteArray::fromHex("FFFE4544") + QByteArray(1027, '\xFF') + QByteArray("\x86", 1);

QByteArray ramp(int seed)
{
    QByteArray data(1024, Qt::Uninitialized);
    for (int i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>((i * 7 + seed) & 0xFF);
    return data;
}

// QSignalSpy::wait() waits for a new emission; the signal may have come in an earlier wait.
bool emitted(QSignalSpy& spy)
{
    return !spy.isEmpty() || spy.wait(2000);
}

QByteArray flashAt(const SimRadio& radio, quint32 address, qsizetype size)
{
    return radio.flash().sliced(address - kFlashStart, size);
}

class SimRadioTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QString error;
        ASSERT_TRUE(radio.start(&error)) << error.toStdString();
        client = std::make_unique<Client>(radio.devicePath());
    }

    // One step as the program does it: open, one exchange, close.
    QByteArray step(const QByteArray& request, qsizetype count)
    {
        if (!client->open())
            return "open failed: " + client->port().errorString().toUtf8();
        const QByteArray received = request.size() == kPacketSize
                                        ? client->sendPacket(request)
                                        : client->exchange(request, count);
        client->close();
        return received;
    }
    QByteArray packetStep(const QByteArray& packet) { return step(packet, packet.size() + 4); }

    void enterFlashMode() { ASSERT_EQ(step(kConnect, 13), kConnect + "CT\r\n"); }

    SimRadio radio;
    std::unique_ptr<Client> client;
};

TEST_F(SimRadioTest, TextCommandsAreEchoedAheadOfTheirReplies)
{
    EXPECT_EQ(step(kQuery, 16), kQuery + "\r\nOK\r\n");
    radio.setReplyLetters(Command::Query, "RE");
    EXPECT_EQ(step(kQuery, 16), kQuery + "\r\nRE\r\n");
    EXPECT_FALSE(radio.inFlashMode());
    EXPECT_EQ(step(kConnect, 13), kConnect + "CT\r\n");
    EXPECT_TRUE(radio.inFlashMode());

    ASSERT_EQ(radio.log().size(), 3);
    EXPECT_EQ(radio.log()[1].request.command, Command::Query);
    EXPECT_EQ(radio.log()[1].request.attempt, 2);
    EXPECT_EQ(radio.log()[1].request.bytes, kQuery);
    EXPECT_EQ(radio.log()[1].reply, "\r\nRE\r\n");
    EXPECT_EQ(radio.log()[2].line, kExpectedLine);
    EXPECT_EQ(radio.count(Command::Query), 2);
    EXPECT_EQ(radio.count(Command::Connect), 1);
    EXPECT_TRUE(radio.errors().isEmpty());
}

TEST_F(SimRadioTest, EraseProgramAndEndChangeTheFlashModel)
{
    QSignalSpy ended(&radio, &SimRadio::sessionEnded);
    enterFlashMode();
    EXPECT_EQ(radio.flash().size(), kFlashSize);
    EXPECT_FALSE(radio.flash().contains('\xFF'));

    EXPECT_EQ(packetStep(kErase), kErase + "BE\r\n");
    EXPECT_EQ(flashAt(radio, 0xC0000, 0xFF000 - 0xC0000), QByteArray(0xFF000 - 0xC0000, '\xFF'));
    for (quint32 a = 0xFF000; a < kFlashEnd; a += 0x3FF)
        EXPECT_EQ(static_cast<quint8>(radio.flash()[a - kFlashStart]), SimRadio::blankByte(a));
    EXPECT_EQ(radio.erasedBlocks(), (QList<quint32>{0xC0000, 0xD0000, 0xE0000, 0xF0000, 0xF8000,
                                                    0xFA000, 0xFC000, 0xFE000}));

    const QByteArray low = programPacket(0xC0400, ramp(1));
    EXPECT_EQ(packetStep(low), low + "OK\r\n");
    radio.setReplyLetters(Command::Program, "PG");
    const QByteArray high = programPacket(0xFEC00, ramp(2));
    EXPECT_EQ(packetStep(high), high + "PG\r\n");
    EXPECT_EQ(flashAt(radio, 0xC0400, 1024), ramp(1));
    EXPECT_EQ(flashAt(radio, 0xFEC00, 1024), ramp(2));
    EXPECT_EQ(flashAt(radio, 0xC0000, 1024), QByteArray(1024, '\xFF'));
    EXPECT_EQ(radio.writtenBlocks(), (QList<quint32>{0xC0400, 0xFEC00}));

    EXPECT_EQ(ended.size(), 0);
    EXPECT_EQ(packetStep(kEnd), kEnd + "ED\r\n");
    EXPECT_FALSE(radio.inFlashMode());
    EXPECT_TRUE(emitted(ended));
    EXPECT_TRUE(radio.errors().isEmpty()) << radio.errors()[0].message.toStdString();
    EXPECT_EQ(radio.log().last().request.command, Command::End);
}

TEST_F(SimRadioTest, DamagedPacketsAreAnsweredNGAndChangeNothing)
{
    enterFlashMode();
    const QByteArray before = radio.flash();

    QByteArray badSum = kErase;
    badSum[kPacketSize - 1] = '\xAD';
    QByteArray badHeader = kErase;
    badHeader[1] = '\xFF';
    const QByteArray unknownType = packet("XY");
    const QByteArray unaligned = programPacket(0xC0401, ramp(0));
    for (const QByteArray& bad : {badSum, badHeader, unknownType, unaligned})
        EXPECT_EQ(packetStep(bad), bad + "NG\r\n");

    EXPECT_EQ(radio.flash(), before);
    ASSERT_EQ(radio.errors().size(), 4);
    EXPECT_EQ(radio.errors()[0].kind, ErrorKind::BadChecksum);
    EXPECT_EQ(radio.errors()[1].kind, ErrorKind::BadPacket);
    EXPECT_EQ(radio.errors()[2].kind, ErrorKind::BadPacket);
    EXPECT_EQ(radio.errors()[3].kind, ErrorKind::BadAddress);
    EXPECT_EQ(radio.errors()[3].exchange, 4);
    EXPECT_EQ(radio.count(Command::Other), 2);
}

TEST_F(SimRadioTest, WritesOverUnerasedFlashAreRecordedAndOnlyClearBits)
{
    enterFlashMode();
    const QByteArray ones(1024, '\xFF');
    EXPECT_EQ(packetStep(programPacket(0xD0000, ones)), programPacket(0xD0000, ones) + "OK\r\n");
    for (quint32 a = 0xD0000; a < 0xD0400; a += 0x55)
        EXPECT_EQ(static_cast<quint8>(radio.flash()[a - kFlashStart]), SimRadio::blankByte(a));
    ASSERT_EQ(radio.errorCount(ErrorKind::UnerasedWrite), 1);
    EXPECT_TRUE(radio.errors()[0].message.contains("write to unerased flash"));

    // Erased, then written twice: the second write can only clear more bits.
    EXPECT_EQ(packetStep(kErase), kErase + "BE\r\n");
    packetStep(programPacket(0xC0000, QByteArray(1024, '\x0F')));
    packetStep(programPacket(0xC0000, QByteArray(1024, '\x3C')));
    EXPECT_EQ(flashAt(radio, 0xC0000, 1024), QByteArray(1024, '\x0C'));
    EXPECT_EQ(radio.errorCount(ErrorKind::UnerasedWrite), 2);
    // The same data again changes nothing and is no fault: that is a retried block.
    packetStep(programPacket(0xC0400, ramp(3)));
    packetStep(programPacket(0xC0400, ramp(3)));
    EXPECT_EQ(radio.errorCount(ErrorKind::UnerasedWrite), 2);
}

TEST_F(SimRadioTest, PacketsBeforeConnectAreEchoedButNotAnswered)
{
    ASSERT_TRUE(client->open());
    EXPECT_EQ(client->exchange(kErase, kPacketSize + 4, 300ms), kErase);
    client->close();
    EXPECT_EQ(radio.errorCount(ErrorKind::NotInFlashMode), 1);
    EXPECT_TRUE(radio.erasedBlocks().isEmpty());
}

TEST_F(SimRadioTest, SurvivesThePortClosingAndReopeningBetweenSteps)
{
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(step(kQuery, 16), kQuery + "\r\nOK\r\n") << "round " << i;
    // A request split over two openings still comes together.
    ASSERT_TRUE(client->open());
    client->port().write("ZK~FL");
    client->port().waitForBytesWritten(100);
    client->close();
    EXPECT_EQ(step("ASH\r", 13), kConnect + "CT\r\n");
}

TEST_F(SimRadioTest, CountsRequestsAtWrongLineSettings)
{
    ASSERT_TRUE(client->open(9600));
    EXPECT_EQ(client->exchange(kQuery, 16), kQuery + "\r\nOK\r\n");
    client->close();
    ASSERT_TRUE(client->open(57600, QSerialPort::TwoStop));
    EXPECT_EQ(client->exchange(kQuery, 16).size(), 16);
    client->close();
    step(kQuery, 16);

    EXPECT_EQ(radio.wrongLineCount(), 2);
    EXPECT_EQ(radio.log()[0].line.toString(), "9600,n,8,1");
    EXPECT_EQ(radio.log()[1].line.toString(), "57600,n,8,2");
    EXPECT_EQ(radio.log()[2].line, kExpectedLine);
}

TEST_F(SimRadioTest, ScriptSeesEachAttemptPerCommandAndAddress)
{
    QList<Request> seen;
    radio.setScript([&](const Request& request) -> std::optional<Response> {
        seen.append(request);
        if (request.command == Command::Program && request.address == 0xC0400 &&
            request.attempt <= 2)
            return Response{.reply = QByteArray()};
        return std::nullopt;
    });
    enterFlashMode();
    EXPECT_EQ(packetStep(kErase), kErase + "BE\r\n");
    const QByteArray block = programPacket(0xC0400, ramp(4));
    ASSERT_TRUE(client->open());
    EXPECT_EQ(client->sendPacket(block, 200ms), block);
    EXPECT_EQ(client->sendPacket(block, 200ms), block);
    EXPECT_EQ(client->sendPacket(block), block + "OK\r\n");
    client->close();
    packetStep(programPacket(0xC0800, ramp(5)));

    ASSERT_EQ(seen.size(), 6);
    EXPECT_EQ(seen[3].attempt, 2);
    EXPECT_EQ(seen[4].attempt, 3);
    EXPECT_EQ(seen[4].number, 3);
    EXPECT_EQ(seen[4].address, 0xC0400u);
    EXPECT_EQ(seen[4].bytes, block.first(7));
    EXPECT_EQ(seen[5].attempt, 1);
    EXPECT_EQ(seen[5].number, 4);
    EXPECT_EQ(radio.log()[2].reply, "");
    EXPECT_EQ(radio.log()[2].request.bytes, block);
}

struct ReplyFault {
    const char* name;
    Response response;
    QByteArray expected; // after the echo of "ZK~FLASH" CR
    bool echo = true;
};

class ReplyFaultTest : public SimRadioTest, public ::testing::WithParamInterface<ReplyFault> {};

TEST_P(ReplyFaultTest, ConnectReplyIsBentAsScripted)
{
    const ReplyFault& fault = GetParam();
    radio.setScript([&](const Request&) { return fault.response; });
    const QByteArray expected = (fault.echo ? kConnect : QByteArray()) + fault.expected;
    ASSERT_TRUE(client->open());
    QByteArray received = client->exchange(kConnect, expected.size());
    received += client->collect(1, 50ms); // nothing more may follow
    client->close();
    EXPECT_EQ(received, expected);
    EXPECT_EQ(radio.log().constFirst().reply, fault.expected);
    EXPECT_TRUE(radio.inFlashMode());
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ReplyFaultTest,
    ::testing::Values(ReplyFault{"none", Response{.reply = QByteArray()}, ""},
                      ReplyFault{"otherLetters", Response{.reply = QByteArray("OK\r\n")}, "OK\r\n"},
                      ReplyFault{"short", Response{.cut = 3}, "C"},
                      ReplyFault{"noLineFeed", Response{.cut = 1}, "CT\r"},
                      ReplyFault{"garbageFirst", Response{.garbage = QByteArray("\x00\xFF", 2)},
                                 QByteArray("\x00\xFF", 2) + "CT\r\n"},
                      ReplyFault{"noEcho", Response{.echo = false}, "CT\r\n", false}),
    [](const ::testing::TestParamInfo<ReplyFault>& fault) {
        return std::string(fault.param.name);
    });

TEST_F(SimRadioTest, DelayedReplyComesLateAndUnechoedPacketsStillComplete)
{
    radio.setScript([](const Request& request) -> std::optional<Response> {
        if (request.command == Command::End)
            return Response{.delay = 150ms};
        if (request.command == Command::Erase)
            return Response{.echo = false};
        return std::nullopt;
    });
    enterFlashMode();
    // Without the echo the program's wait for the first half runs out; it sends the rest anyway.
    ASSERT_TRUE(client->open());
    EXPECT_EQ(client->sendPacket(kErase, 100ms), "BE\r\n");
    client->close();
    EXPECT_EQ(radio.erasedBlocks().size(), 8);

    ASSERT_TRUE(client->open());
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(client->sendPacket(kEnd, 100ms), kEnd);
    EXPECT_EQ(client->collect(4), "ED\r\n");
    EXPECT_GE(clock.elapsed(), 150);
    client->close();
}

TEST_F(SimRadioTest, HangingUpMakesTheDeviceVanishAfterTheReplyWasRead)
{
    QSignalSpy hungUp(&radio, &SimRadio::hungUp);
    radio.setScript([](const Request& request) -> std::optional<Response> {
        if (request.command == Command::Connect)
            return Response{.hangUp = true};
        return std::nullopt;
    });
    ASSERT_TRUE(client->open());
    EXPECT_EQ(client->exchange(kConnect, 13), kConnect + "CT\r\n");
    ASSERT_TRUE(emitted(hungUp));
    EXPECT_FALSE(radio.isRunning());
    EXPECT_FALSE(QFileInfo::exists(radio.devicePath()));
    EXPECT_TRUE(radio.log().constFirst().hungUp);
    client->collect(1, 500ms);
    EXPECT_NE(client->port().error(), QSerialPort::NoError);
}

// The pace is checked exactly on the tests' scripted line, which keeps it with the same LinePace
// (tests/link SendBlockTest.PacedPacketIsHeldUntilTheLineCanHaveCarriedIt), and in USB frames
// over a pseudo-terminal by tests/link HeldInput; here, bytes handed over as soon as the line has
// carried them keep to it too.
TEST_F(SimRadioTest, PacingHoldsEchoAndReplyToTheLineRate)
{
    enterFlashMode();
    radio.setPacing(true);
    ASSERT_TRUE(client->open());
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(client->sendPacket(kEnd), kEnd + "ED\r\n");
    // Each of its two bursts may end half a millisecond early.
    EXPECT_GE(clock.elapsed(), (kPacketSize + 4) * 1000 / kLineBytesPerSecond - 1);
    client->close();
}

TEST_F(SimRadioTest, UsbLatencyHoldsAShortReplyBackAndHandsItOverWhole)
{
    radio.setUsbLatency(16ms);
    ASSERT_TRUE(client->open());
    QElapsedTimer clock;
    clock.start();
    const QByteArray first = client->exchange(kQuery, 1);
    const qint64 firstMs = clock.elapsed();
    client->close();
    // Echo and reply are 16 bytes, less than a USB packet: they wait out the latency timer and
    // come in one burst.
    EXPECT_EQ(first, kQuery + "\r\nOK\r\n");
    EXPECT_GE(firstMs, 14);
}

} // namespace
} // namespace tqb9::sim::test
