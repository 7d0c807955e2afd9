#include "link/link.h"
#include "link/portmap.h"
#include "link/reply.h"
#include "sim/simradio.h"
#include "support/needspty.h"
#include "support/scriptedline.h"
#include "tests/simscript.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <gtest/gtest.h>
#include <QElapsedTimer>
#include <QTimer>

namespace tqb9 {
namespace {

using namespace std::chrono_literals;
using sim::Command;
using sim::Response;
using sim::SimRadio;
using simscript::forCommand;
using simscript::replying;

double cpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

constexpr auto kWindow = PreciseWindow::kRadioWindow;

// An end packet: FF FE 'E' 'D', 1027 x FF, checksum 0x86.
QByteArray endPacket()
{
    return QByteArray::fromHex("FFFE4544") + QByteArray(1027, '\xFF') + QByteArray("\x86", 1);
}

// One packet attempt in its own port frame; -1 when the frame ended in an error.
std::int16_t sendIn(Link& link, QByteArrayView packet)
{
    std::int16_t count = -1;
    link.inPortFrame(-1, [&] { return count = link.SendBlock(packet); });
    return count;
}

// The link on the scripted line, with the radio's 5000 ms window on a virtual clock: how long an
// exchange took is exact, whatever the machine is doing.
class LinkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        link.setLine(std::make_unique<testing::ScriptedLine>(clock, radio));
        link.setWindow(std::make_unique<testing::VirtualWindow>(clock));
        link.setDevice(testing::ScriptedLine::kDevice, QStringLiteral("COM1"));
    }

    // Every exchange leaves the port closed and the window shut.
    void expectIdle()
    {
        EXPECT_FALSE(link.line().isOpen());
        EXPECT_FALSE(link.window().isOpen());
    }

    testing::ScriptedLine& line() { return static_cast<testing::ScriptedLine&>(link.line()); }

    testing::VirtualClock clock;
    SimRadio radio;
    Link link;
};

struct TextCase {
    const char* name;
    Command command;
    std::optional<QByteArray> reply; // nullopt: the radio's own
    std::int16_t result;
    bool waitsOutTheWindow;
};

class TextExchange : public LinkTest, public ::testing::WithParamInterface<TextCase> {};

TEST_P(TextExchange, ResultAndTiming)
{
    const TextCase& c = GetParam();
    if (c.reply)
        radio.setScript(forCommand(c.command, replying(*c.reply)));

    const std::int16_t result =
        c.command == Command::Query ? link.QueryModel() : link.ConnectRadio();

    EXPECT_EQ(result, c.result);
    EXPECT_EQ(clock.now(), c.waitsOutTheWindow ? kWindow : 0ms);
    expectIdle();
    ASSERT_EQ(radio.log().size(), 1);
    const QByteArray sent =
        c.command == Command::Query ? QByteArray("ZK~TQ-B9E\r") : QByteArray("ZK~FLASH\r");
    EXPECT_EQ(radio.log().front().request.bytes, sent);
    // Every byte taken is kept for a trace or diagnosis, whether the reply counted or not: at
    // least what was awaited, and all of it once the window ran out (a lone echo included).
    if (c.reply) {
        const QByteArray all = sent + *c.reply;
        const qsizetype awaited = sent.size() + (c.command == Command::Query ? 6 : 4);
        EXPECT_TRUE(all.startsWith(link.bytRxBuf())) << link.bytRxBuf().toStdString();
        EXPECT_GE(link.bytRxBuf().size(), c.waitsOutTheWindow ? all.size() : awaited);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, TextExchange,
    ::testing::Values(
        TextCase{"QueryAgreed", Command::Query, std::nullopt, reply::OK, false},
        TextCase{"QueryRegion", Command::Query, "\r\nRE\r\n", reply::RE, false},
        TextCase{"QueryRefusedIsFailure", Command::Query, "\r\nNG\r\n", reply::None, false},
        TextCase{"QueryNumberedIsFailure", Command::Query, "\r\n02\r\n", reply::None, false},
        // 14 bytes never reach the 16 awaited.
        TextCase{"QueryPlainOkTimesOut", Command::Query, "OK\r\n", reply::None, true},
        TextCase{"QuerySilent", Command::Query, "", reply::None, true},
        TextCase{"ConnectFlashMode", Command::Connect, std::nullopt, reply::CT, false},
        TextCase{"ConnectSilent", Command::Connect, "", reply::None, true},
        TextCase{"ConnectOkIsReported", Command::Connect, "OK\r\n", reply::OK, false},
        TextCase{"ConnectRefused", Command::Connect, "NG\r\n", reply::None, false},
        TextCase{"ConnectEraseReplyIsFailure", Command::Connect, "BE\r\n", reply::None, false},
        // 12 of the 13 bytes: the window runs out.
        TextCase{"ConnectTwelveBytes", Command::Connect, "CT\r", reply::None, true},
        TextCase{"ConnectSecondReplyIgnored", Command::Connect, "CT\r\nNG\r\n", reply::CT, false},
        TextCase{"ConnectGarbageBeforeReply", Command::Connect, "~CT\r\n", reply::None, false}),
    [](const auto& param) { return std::string(param.param.name); });

// The one test of the real 5000 ms window, over a pseudo-terminal and QSerialPort.
TEST(RealWindow, SilentRadioCostsTheFullWindowAndAlmostNoCpu)
{
    TQB9_NEEDS_PTY();
    SimRadio radio;
    QString error;
    ASSERT_TRUE(radio.start(&error)) << error.toStdString();
    Link link;
    link.setDevice(radio.devicePath());
    radio.setScript(forCommand(Command::Query, replying("")));
    QElapsedTimer clock;
    clock.start();
    const double cpuBefore = cpuSeconds();
    EXPECT_EQ(link.QueryModel(), reply::None);
    const double cpu = cpuSeconds() - cpuBefore;
    const qint64 elapsed = clock.elapsed();
    EXPECT_GE(elapsed, 5000);
    // Well short of a second window, and loose enough for a loaded machine.
    EXPECT_LT(elapsed, 6000);
    EXPECT_LT(cpu, 0.05) << "CPU seconds spent waiting: " << cpu;
    std::printf("silent 5000 ms window: %lld ms wall, %.1f ms CPU\n", elapsed, cpu * 1000);
    EXPECT_FALSE(link.line().isOpen());
    EXPECT_EQ(radio.count(Command::Query), 1);
}

// The real line's side of a held wait, over a pseudo-terminal and QSerialPort, against a radio at
// the line's pace that hands its bytes over every millisecond as a USB adapter does: the bytes
// stay with the driver, so about 180 bursts wake the wait a few times, and a cable pulled during
// the hold is still seen before the window would have run out. Its timing is checked exactly on
// the scripted line (SendBlockTest.PacedPacketIsHeldUntilTheLineCanHaveCarriedIt).
TEST(HeldInput, RealLineLeavesPacedBytesWithTheDriverAndStillSeesAPulledCable)
{
    TQB9_NEEDS_PTY();
    SimRadio radio;
    QString error;
    ASSERT_TRUE(radio.start(&error)) << error.toStdString();
    radio.setPacing(true);
    radio.setUsbLatency(1ms);
    Link link;
    link.setDevice(radio.devicePath());
    ASSERT_EQ(link.ConnectRadio(), reply::CT);
    int wakes = 0;
    QObject::connect(&link.line(), &SerialLine::readyRead, [&wakes] { ++wakes; });
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(sendIn(link, endPacket()), 1036);
    EXPECT_GE(clock.elapsed(), 1036 * 1000 / sim::kLineBytesPerSecond);
    EXPECT_LE(wakes, 20);

    // Pulled as the echo begins to come back.
    QObject::connect(&link.line(), &SerialLine::readyRead, &radio,
                     [&radio] { QTimer::singleShot(0, &radio, &SimRadio::hangUp); });
    clock.restart();
    EXPECT_EQ(sendIn(link, endPacket()), -1);
    EXPECT_EQ(link.lastErrorKind(), QSerialPort::ResourceError);
    EXPECT_LT(clock.elapsed(), kWindow.count());
}

TEST_F(LinkTest, PortThatCannotBeOpenedFailsWithoutSending)
{
    link.setDevice(QStringLiteral("/dev/tq-b9-no-such-device"), QStringLiteral("COM2"));
    EXPECT_EQ(link.QueryModel(), reply::None);
    EXPECT_EQ(link.lastErrorKind(), QSerialPort::DeviceNotFoundError);
    expectIdle();

    link.setDevice(QString(), QStringLiteral("COM7")); // nothing behind COM7
    EXPECT_EQ(link.ConnectRadio(), reply::None);
    EXPECT_EQ(link.lastError(), QStringLiteral("COM7: no such serial port"));
    expectIdle();
    EXPECT_EQ(radio.log().size(), 0);
}

TEST_F(LinkTest, LateReplyDoesNotShiftTheNextOne)
{
    Response late;
    late.delay = kWindow + 100ms;
    radio.setScript([late](const sim::Request& request) -> std::optional<Response> {
        if (request.number == 1)
            return late;
        return std::nullopt;
    });
    EXPECT_EQ(link.QueryModel(), reply::None);
    // The late "OK" lands before the next query, then is dropped.
    clock.schedule(200ms, [this] { EXPECT_EQ(link.QueryModel(), reply::OK); });
    clock.runAll();
    EXPECT_EQ(link.bytRxBuf(), QByteArray("ZK~TQ-B9E\r\r\nOK\r\n"));
}

TEST_F(LinkTest, AbortEndsTheWaitAsAFailure)
{
    radio.setScript(forCommand(Command::Query, replying("")));
    clock.schedule(50ms, [this] { link.abort(QStringLiteral("stopped by the test")); });
    EXPECT_EQ(link.QueryModel(), reply::None);
    EXPECT_EQ(clock.now(), 50ms);
    EXPECT_EQ(link.lastError(), QStringLiteral("stopped by the test"));
    // Still aborted: nothing more is waited for until the abort is cleared.
    EXPECT_EQ(link.ConnectRadio(), reply::None);
    link.clearAbort();
    EXPECT_EQ(link.ConnectRadio(), reply::CT);
    expectIdle();
}

// Errors of the line itself end the operation with its failure code and the port closed; only
// a vanished device closes the line by itself.
TEST_F(LinkTest, LineErrorsEndTheOperationWithItsFailureCode)
{
    line().failNextWrite();
    EXPECT_EQ(link.ConnectRadio(), reply::None);
    EXPECT_EQ(link.lastErrorKind(), QSerialPort::WriteError);
    EXPECT_EQ(clock.now(), 0ms);
    expectIdle();

    radio.setScript(forCommand(Command::Query, replying("")));
    line().failReadingAt(1000ms);
    EXPECT_EQ(link.QueryModel(), reply::None);
    EXPECT_EQ(link.lastErrorKind(), QSerialPort::ReadError);
    EXPECT_EQ(clock.now(), 1000ms);
    expectIdle();

    // The next operation opens the line afresh, without the old error.
    EXPECT_EQ(link.ConnectRadio(), reply::CT);

    // A cable pulled while the link waits for a reply ends the wait at once (for a packet's reply:
    // SendBlockTest.PacedPacketIsHeldUntilTheLineCanHaveCarriedIt).
    Response hangUp = replying("");
    hangUp.hangUp = true;
    radio.setScript(forCommand(Command::Query, hangUp));
    const auto pulledAt = clock.now();
    EXPECT_EQ(link.QueryModel(), reply::None);
    EXPECT_EQ(clock.now(), pulledAt) << "waited for a reply from a vanished port";
    EXPECT_EQ(link.lastErrorKind(), QSerialPort::ResourceError);
    expectIdle();
}

class SendBlockTest : public LinkTest {
protected:
    void SetUp() override
    {
        LinkTest::SetUp();
        ASSERT_EQ(link.ConnectRadio(), reply::CT);
    }

    std::int16_t send() { return sendIn(link, packet); }
    const QByteArray packet = endPacket();
};

TEST_F(SendBlockTest, SilentRadioStillGetsTheSecondHalfWithinOneWindow)
{
    Response mute = replying("");
    mute.echo = false;
    radio.setScript(forCommand(Command::End, mute));
    EXPECT_EQ(send(), 0);
    EXPECT_EQ(clock.now(), kWindow);
    ASSERT_EQ(radio.count(Command::End), 1);
    EXPECT_EQ(radio.log().back().request.bytes, packet);
}

TEST_F(SendBlockTest, ReplyOneByteShortIsNotEnough)
{
    Response cut;
    cut.cut = 1; // "ED" CR, no LF: 1035 bytes on the line
    radio.setScript(forCommand(Command::End, cut));
    EXPECT_LT(send(), Link::kPacketAwaited);
}

// At the line's pace, in 1 ms USB frames, a packet's wait leaves the bytes with the driver until
// the line can have carried them: it ends with echo and reply at the frame that brings the last
// byte, waking a few times instead of once a frame, and a cable pulled during the hold ends it at
// once, an error, with the port closed.
TEST_F(SendBlockTest, PacedPacketIsHeldUntilTheLineCanHaveCarriedIt)
{
    line().setPacing(true);
    int wakes = 0;
    QObject::connect(&link.line(), &SerialLine::readyRead, [&wakes] { ++wakes; });
    auto start = clock.now();
    EXPECT_EQ(send(), 1036);
    EXPECT_EQ(link.bytRxBuf(), packet + "ED\r\n");
    // The first half's echo takes 88.9 ms of line, the rest 91.0 ms: frames 89 and 91.
    EXPECT_EQ(clock.now() - start, 180ms);
    // Each half: its first frame, the hold's end with what the driver gathered, the frame as the
    // hold ends and the last one.
    EXPECT_EQ(wakes, 8);

    start = clock.now();
    clock.schedule(50ms, [this] { radio.hangUp(); });
    EXPECT_EQ(send(), -1);
    EXPECT_EQ(clock.now() - start, 50ms);
    EXPECT_EQ(link.lastErrorKind(), QSerialPort::ResourceError);
    expectIdle();
}

TEST(LineSettings, ParsesTheControlsFormAndRejectsTheRest)
{
    const LineSettings s = LineSettings::parse(QStringLiteral("57600,n,8,1"));
    EXPECT_EQ(s.baudRate, 57600);
    EXPECT_EQ(s.parity, QSerialPort::NoParity);
    EXPECT_EQ(s.dataBits, QSerialPort::Data8);
    EXPECT_EQ(s.stopBits, QSerialPort::OneStop);
    EXPECT_EQ(LineSettings::parse(QStringLiteral("9600,E,7,2")).parity, QSerialPort::EvenParity);
    for (const char* bad : {"", "57600", "57600,n,8", "fast,n,8,1", "57600,x,8,1", "57600,n,9,1",
                            "57600,n,8,3", "-1,n,8,1", "57600,n,8,1,1"})
        EXPECT_THROW(LineSettings::parse(QString::fromLatin1(bad)), SerialError) << bad;
}

TEST(PortMap, BindingsParseAndOverride)
{
    const auto binding = PortMap::parseBinding(QStringLiteral("3=/dev/pts/7"));
    ASSERT_TRUE(binding);
    EXPECT_EQ(binding->first, 3);
    EXPECT_EQ(binding->second, QStringLiteral("/dev/pts/7"));
    EXPECT_EQ(PortMap::parseBinding(QStringLiteral("COM12=/dev/ttyUSB1"))->first, 12);
    for (const char* bad : {"", "=/dev/x", "3=", "0=/dev/x", "17=/dev/x", "x=/dev/x", "3"})
        EXPECT_FALSE(PortMap::parseBinding(QString::fromLatin1(bad))) << bad;

    // The values of --com: the later of two for one port wins; the first bad one is handed back.
    QString bad;
    const auto bindings = PortMap::parseBindings({"2=/dev/a", "2=/dev/b"}, &bad);
    ASSERT_TRUE(bindings);
    EXPECT_EQ(PortMap(*bindings).deviceFor(2), QStringLiteral("/dev/b"));
    EXPECT_FALSE(PortMap::parseBindings({"1=/dev/a", "17=/dev/b", "x"}, &bad));
    EXPECT_EQ(bad, QStringLiteral("17=/dev/b"));

    PortMap map;
    map.bind(2, QStringLiteral("/dev/pts/9"));
    EXPECT_EQ(map.deviceFor(2), QStringLiteral("/dev/pts/9"));
}

} // namespace
} // namespace tqb9
