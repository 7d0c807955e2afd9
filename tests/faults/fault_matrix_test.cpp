// Every step of a Start run against a simulated radio that misbehaves in one way at a time. Each
// row names the fault, the message the run must end with and the exact requests the radio must
// have received: that list carries the attempt counts and shows that nothing follows a failed
// step. The matrix runs on the in-process scripted line with the radio's real 5000 ms window on
// a virtual clock, so replies late by any margin land exactly where the row says on any machine;
// one row per step also runs over a pseudo-terminal. A whole run of the built-in firmware over a
// pseudo-terminal is the command line's first test, the flasher's test its exact write.
#include "faults/harness.h"
#include "support/needspty.h"

#include <functional>
#include <gtest/gtest.h>
#include <QScopeGuard>
#include <QThread>

namespace tqb9::faults {
namespace {

using sim::Command;
using namespace std::chrono_literals;

// The requests of an untroubled run up to each step.
const std::string kToConnect = "query connect";
const std::string kToErase = kToConnect + " erase";
const std::string kToWrite = kToErase + " C0000 E0000 FEC00";
const std::string kAll = kToWrite + " end";
// An erase of three attempts, and the rest of an untroubled run after it.
const std::string kThreeErases = kToErase + "*3";
const std::string kAllErasedThrice = kThreeErases + " C0000 E0000 FEC00 end";

struct Row {
    const char* name;
    QStringList faults; // in the simulator's --fault grammar
    Outcome outcome;
    std::string received;
    // The radio hangs up while this request (a word of `received`) is still coming in.
    std::string hangUpInside = {};
};

void PrintTo(const Row& row, std::ostream* os)
{
    *os << row.name;
}

std::string rowName(const ::testing::TestParamInfo<Row>& info)
{
    return info.param.name;
}

void runRow(Bench::Line line, const Row& row)
{
    QList<sim::FaultRule> rules;
    for (const QString& text : row.faults) {
        QString error;
        const auto rule = sim::parseFault(text, &error);
        ASSERT_TRUE(rule) << text.toStdString() << ": " << error.toStdString();
        rules.append(*rule);
    }

    Bench bench(line);
    ASSERT_TRUE(bench.ready()) << bench.problem();
    bench.session.setFirmware(Firmware::fromImage(threeBlocks()));
    bench.sim.setScript([&bench, &row, faults = sim::faultScript(rules)](const sim::Request& r) {
        // The script runs as the packet's first bytes are identified; the rest is still on its
        // way when the line goes dead.
        if (word(r) == row.hangUpInside)
            bench.hangUpSoon();
        return faults(r);
    });

    const Outcome outcome = bench.start();
    bench.settle();

    EXPECT_EQ(text(outcome), text(row.outcome));
    EXPECT_EQ(received(bench.sim), row.received);
    // The engine's own view, which still holds when the radio hung up and logged nothing more.
    EXPECT_EQ(bench.steps, stepsUpTo(row.outcome));
    EXPECT_FALSE(bench.portOpen());
    const bool flashIsImage = flashMatchesImage(bench.sim, bench.session.firmware().image());
    if (outcome == Outcome::Completed) {
        EXPECT_TRUE(flashIsImage) << "\"Completed.\" over a flash that differs from the image";
    }
    // A run that stops before the write leaves the radio's flash as it was, never the image.
    if (stepsEntered(row.outcome) < stepsEntered(Outcome::WriteFailed)) {
        EXPECT_FALSE(flashIsImage);
    }
}

class FaultMatrix : public ::testing::TestWithParam<Row> {};

TEST_P(FaultMatrix, EndsWithTheRightMessageAndSendsNothingAfterIt)
{
    runRow(Bench::Line::Scripted, GetParam());
}

class FaultMatrixOnPty : public ::testing::TestWithParam<Row> {};

TEST_P(FaultMatrixOnPty, EndsWithTheRightMessageAndSendsNothingAfterIt)
{
    TQB9_NEEDS_PTY();
    runRow(Bench::Line::Pty, GetParam());
}

// Delays are in the real 5000 ms window: a reply late by 6700 ms misses its window by a third of
// one.
INSTANTIATE_TEST_SUITE_P(
    Query, FaultMatrix,
    ::testing::Values(
        Row{"dead_line", {"query:noecho,reply=none"}, Outcome::Error, "query"},
        Row{"cr_lf_missing", {"query:nolf"}, Outcome::Error, "query"},
        Row{"cr_without_lf", {"query:reply=hex:0D0A4F4B0D0D"}, Outcome::Error, "query"},
        Row{"ng", {"query:reply=NG"}, Outcome::Error, "query"},
        Row{"region_refused", {"query:reply=RE"}, Outcome::RegionError, "query"},
        Row{"plain_ok_unframed", {"query:reply=plain:OK"}, Outcome::Error, "query"},
        Row{"garbage_first", {"query:garbage=3"}, Outcome::Error, "query"},
        Row{"late", {"query:delay=10000"}, Outcome::Error, "query"},
        Row{"port_vanishes", {"query:reply=none,hangup"}, Outcome::Error, "query"}),
    rowName);

INSTANTIATE_TEST_SUITE_P(
    Connect, FaultMatrix,
    ::testing::Values(
        Row{"echo_only", {"connect:reply=none"}, Outcome::ConnectFailed, kToConnect},
        Row{"first_letter_only", {"connect:short"}, Outcome::ConnectFailed, kToConnect},
        Row{"cr_without_lf", {"connect:reply=hex:43540D0D"}, Outcome::ConnectFailed, kToConnect},
        Row{"ok_instead_of_ct", {"connect:reply=OK"}, Outcome::ConnectFailed, kToConnect},
        Row{"garbage_first", {"connect:garbage=3"}, Outcome::ConnectFailed, kToConnect},
        Row{"late", {"connect:delay=10000"}, Outcome::ConnectFailed, kToConnect},
        Row{"port_vanishes", {"connect:reply=none,hangup"}, Outcome::ConnectFailed, kToConnect}),
    rowName);

INSTANTIATE_TEST_SUITE_P(
    Erase, FaultMatrix,
    ::testing::Values(
        Row{"dead_line_3_times", {"erase:noecho,reply=none"}, Outcome::EraseFailed, kThreeErases},
        Row{"lf_missing_twice_then_be", {"erase#1-2:nolf"}, Outcome::Completed, kAllErasedThrice},
        Row{"cr_without_lf_3_times",
            {"erase:reply=hex:42450D0D"},
            Outcome::EraseFailed,
            kThreeErases},
        Row{"ng_twice_then_be", {"erase#1-2:reply=NG"}, Outcome::Completed, kAllErasedThrice},
        // "OK" ends the attempts like "BE" does, but only "BE" lets the run go on.
        Row{"ok_instead_of_be", {"erase:reply=OK"}, Outcome::EraseFailed, kToErase},
        Row{"garbage_first_3_times", {"erase:garbage=5"}, Outcome::EraseFailed, kThreeErases},
        // Later than all three windows: the replies land after the run has given up.
        Row{"late_3_times", {"erase:delay=20000"}, Outcome::EraseFailed, kThreeErases},
        // A reply that misses its window by less than a window lands in the next attempt's and
        // is taken for it: the same packet, so the radio's answer holds for both. The second
        // attempt's own reply is owed, and collected before the write begins.
        Row{"always_late_by_a_third_of_a_window",
            {"erase:delay=6700"},
            Outcome::Completed,
            "query connect erase*2 C0000 E0000 FEC00 end"},
        // The first attempt's "PG", 5.2 s late, is owed when the second's "BE" comes at once:
        // it must not be read as the answer to the first program packet, which the radio never
        // answers.
        Row{"late_reply_owed_into_the_write",
            {"erase#1:reply=PG,delay=5200", "program@0xC0000:reply=none"},
            Outcome::WriteFailed,
            "query connect erase*2 C0000*10"},
        Row{"port_vanishes", {"erase:reply=none,hangup"}, Outcome::EraseFailed, kToErase},
        Row{"radio_hangs_up_inside_packet", {}, Outcome::EraseFailed, "query connect", "erase"}),
    rowName);

INSTANTIATE_TEST_SUITE_P(
    Write, FaultMatrix,
    ::testing::Values(
        Row{"first_block_echo_only_10_times",
            {"program@0xC0000:reply=none"},
            Outcome::WriteFailed,
            kToErase + " C0000*10"},
        Row{"middle_block_lf_missing_9_times_then_ok",
            {"program@0xE0000#1-9:nolf"},
            Outcome::Completed,
            kToErase + " C0000 E0000*10 FEC00 end"},
        Row{"last_block_cr_without_lf_10_times",
            {"program@0xFEC00:reply=hex:4F4B0D0D"},
            Outcome::WriteFailed,
            kToErase + " C0000 E0000 FEC00*10"},
        Row{"last_block_cr_without_lf_9_times_then_ok",
            {"program@0xFEC00#1-9:reply=hex:4F4B0D0D"},
            Outcome::Completed,
            kToWrite + "*10 end"},
        Row{"middle_block_be_10_times",
            {"program@0xE0000:reply=BE"},
            Outcome::WriteFailed,
            kToErase + " C0000 E0000*10"},
        Row{"first_block_ng_9_times_then_ok",
            {"program@0xC0000#1-9:reply=NG"},
            Outcome::Completed,
            kToErase + " C0000*10 E0000 FEC00 end"},
        Row{"every_block_pg", {"program:reply=PG"}, Outcome::Completed, kAll},
        Row{"middle_block_garbage_first_10_times",
            {"program@0xE0000:garbage=7"},
            Outcome::WriteFailed,
            kToErase + " C0000 E0000*10"},
        // As for the erase: the block's second attempt takes the first one's late answer, and
        // the second attempt's own answer comes after the run.
        Row{"middle_block_always_late_by_a_third_of_a_window",
            {"program@0xE0000:delay=6700"},
            Outcome::Completed,
            kToErase + " C0000 E0000*2 FEC00 end"},
        // The first block is answered 5.5 s and then 6.0 s late, the next one "NG" 3 s after
        // every packet: the second late "OK" of the first block is owed, and must never be read
        // as the next block's answer. Ten refusals end the write.
        Row{"owed_ok_of_one_block_never_answers_the_next",
            {"program@0xC0000#1:delay=5500", "program@0xC0000#2:delay=6000",
             "program@0xE0000:reply=NG,delay=3000"},
            Outcome::WriteFailed,
            kToErase + " C0000*2 E0000*10"},
        Row{"last_block_late_10_times",
            {"program@0xFEC00:delay=55000"},
            Outcome::WriteFailed,
            kToWrite + "*10"},
        Row{"port_vanishes_at_middle_block",
            {"program@0xE0000:reply=none,hangup"},
            Outcome::WriteFailed,
            kToErase + " C0000 E0000"},
        Row{"radio_hangs_up_inside_first_block", {}, Outcome::WriteFailed, kToErase, "C0000"},
        Row{"radio_hangs_up_inside_last_block",
            {},
            Outcome::WriteFailed,
            kToErase + " C0000 E0000",
            "FEC00"}),
    rowName);

INSTANTIATE_TEST_SUITE_P(
    End, FaultMatrix,
    ::testing::Values(
        Row{"dead_line_10_times",
            {"end:noecho,reply=none"},
            Outcome::DisconnectFailed,
            kAll + "*10"},
        Row{"late_once_then_ed", {"end#1:delay=7500"}, Outcome::Completed, kAll + "*2"},
        Row{"cr_without_lf_10_times",
            {"end:reply=hex:45440D0D"},
            Outcome::DisconnectFailed,
            kAll + "*10"},
        Row{"ng_9_times_then_ed", {"end#1-9:reply=NG"}, Outcome::Completed, kAll + "*10"},
        // Every block is written, yet "OK" is not the end of the session.
        Row{"ok_instead_of_ed", {"end:reply=OK"}, Outcome::DisconnectFailed, kAll},
        Row{"garbage_first_10_times", {"end:garbage=2"}, Outcome::DisconnectFailed, kAll + "*10"},
        Row{"port_vanishes", {"end:reply=none,hangup"}, Outcome::DisconnectFailed, kAll},
        Row{"radio_hangs_up_inside_packet", {}, Outcome::DisconnectFailed, kToWrite, "end"}),
    rowName);

// One row per step over a real pseudo-terminal and QSerialPort, with a short real window.
INSTANTIATE_TEST_SUITE_P(
    EachStep, FaultMatrixOnPty,
    ::testing::Values(
        Row{"query_ng", {"query:reply=NG"}, Outcome::Error, "query"},
        Row{"connect_ok_instead_of_ct", {"connect:reply=OK"}, Outcome::ConnectFailed, kToConnect},
        Row{"erase_ng_twice_then_be", {"erase#1-2:reply=NG"}, Outcome::Completed, kAllErasedThrice},
        Row{"write_first_block_ng_9_times_then_ok",
            {"program@0xC0000#1-9:reply=NG"},
            Outcome::Completed,
            kToErase + " C0000*10 E0000 FEC00 end"},
        Row{"end_radio_hangs_up_inside_packet", {}, Outcome::DisconnectFailed, kToWrite, "end"}),
    rowName);

// The engine's own guard, whichever front end drives it: without the option a Start run ends
// before the port is opened, and nothing can replace the image while a run writes it.
TEST(TestImage, TheEngineRefusesItBeforeThePortAndKeepsItsImageDuringARun)
{
    Bench bench(Bench::Line::Scripted);
    ASSERT_TRUE(bench.ready()) << bench.problem();
    bench.session.setAllowTestFirmware(false);
    EXPECT_EQ(text(bench.start()), text(Outcome::TestImageRefused));
    EXPECT_EQ(text(bench.session.runProgramming()), text(Outcome::TestImageRefused));
    EXPECT_TRUE(bench.sim.log().isEmpty());
    EXPECT_FALSE(bench.portOpen());

    bench.session.setAllowTestFirmware(true);
    std::optional<bool> replaced;
    bench.sim.setScript([&](const sim::Request& request) -> std::optional<sim::Response> {
        if (request.command == Command::Erase)
            replaced = bench.session.setFirmware(Firmware::fromImage(MemoryImage{}));
        return std::nullopt;
    });
    EXPECT_EQ(text(bench.start()), text(Outcome::Completed));
    ASSERT_TRUE(replaced);
    EXPECT_FALSE(*replaced);
    EXPECT_TRUE(flashMatchesImage(bench.sim, bench.session.firmware().image()));
}

// Not a fault: a radio that echoes each piece it reads and answers in a write of its own, from a
// thread of its own as from another program, so its bytes meet the waits at any point. A wait that
// slept through its reply would take it only when its window ran out, so no window may.
TEST(SeparateWrites, NoWaitSleepsThroughTheReplyItAwaits)
{
    TQB9_NEEDS_PTY();
    Bench bench(Bench::Line::Pty);
    ASSERT_TRUE(bench.ready()) << bench.problem();
    auto window = std::make_unique<PreciseWindow>();
    int ranOut = 0;
    QObject::connect(window.get(), &ReplyWindow::expired, [&ranOut] { ++ranOut; });
    bench.session.setReplyWindow(std::move(window));
    // The radio is made, started and destroyed on its thread, timers and all.
    QThread thread;
    QObject inThread;
    inThread.moveToThread(&thread);
    thread.start();
    const auto there = [&inThread](const std::function<void()>& work) {
        QMetaObject::invokeMethod(&inThread, work, Qt::BlockingQueuedConnection);
    };
    std::unique_ptr<sim::SimRadio> radio;
    const QScopeGuard stop([&] {
        there([&radio] { radio.reset(); });
        thread.quit();
        thread.wait();
    });
    QString device;
    there([&] {
        radio = std::make_unique<sim::SimRadio>();
        radio->setSeparateWrites(true);
        if (radio->start())
            device = radio->devicePath();
    });
    ASSERT_FALSE(device.isEmpty());
    // The bytes fall differently each run: twenty give a wait that sleeps its chance to show.
    for (int run = 0; run < 20 && ranOut == 0; ++run)
        EXPECT_EQ(text(bench.session.runStart(1, device)), text(Outcome::Completed));
    EXPECT_EQ(ranOut, 0);
}

} // namespace
} // namespace tqb9::faults
