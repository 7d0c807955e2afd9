// Every step of a Start run against a simulated radio that misbehaves in one way at a time, over
// real pseudo-terminals. Each row names the fault, the message the run must end with and the
// exact requests the radio must have received: that list carries the attempt counts and shows
// that nothing follows a failed step.
#include "faults/harness.h"

#include <gtest/gtest.h>
#include <QTimer>

namespace tqb9::faults {
namespace {

using sim::Command;
using namespace std::chrono_literals;

// The requests of an untroubled run up to each step.
const std::string kToErase = "query connect erase";
const std::string kToWrite = kToErase + " C0000 E0000 FEC00";
const std::string kAll = kToWrite + " end";

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

class FaultMatrix : public ::testing::TestWithParam<Row> {};

TEST_P(FaultMatrix, EndsWithTheRightMessageAndSendsNothingAfterIt)
{
    const Row& row = GetParam();
    QList<sim::FaultRule> rules;
    for (const QString& text : row.faults) {
        QString error;
        const auto rule = sim::parseFault(text, &error);
        ASSERT_TRUE(rule) << text.toStdString() << ": " << error.toStdString();
        rules.append(*rule);
    }

    Bench bench(kShortWindow);
    ASSERT_TRUE(bench.ready()) << bench.problem();
    loadThreeBlocks(bench.session.image());
    bench.sim.setScript([&bench, &row, faults = sim::faultScript(rules)](const sim::Request& r) {
        // The script runs as the packet's first bytes are identified; the rest is still on its
        // way when the line goes dead.
        if (word(r) == row.hangUpInside)
            QTimer::singleShot(0, &bench.sim, &sim::SimRadio::hangUp);
        return faults(r);
    });

    const Outcome outcome = bench.session.runStart();
    bench.settle();

    EXPECT_EQ(text(outcome), text(row.outcome));
    EXPECT_EQ(received(bench.sim), row.received);
    // The engine's own view, which still holds when the radio hung up and logged nothing more.
    EXPECT_EQ(bench.steps, stepsUpTo(row.outcome));
    EXPECT_FALSE(bench.session.link().MSComm1().PortOpen());
    const bool flashIsImage = flashMatchesImage(bench.sim, bench.session.image());
    if (outcome == Outcome::Completed) {
        EXPECT_TRUE(flashIsImage) << "\"Completed.\" over a flash that differs from the image";
    }
    // A run that stops before the write leaves the radio's flash as it was, never the image.
    if (row.outcome == Outcome::Error || row.outcome == Outcome::RegionError ||
        row.outcome == Outcome::ConnectFailed || row.outcome == Outcome::EraseFailed) {
        EXPECT_FALSE(flashIsImage);
    }
}

// Faults that make the engine wait out its window (silence, a short reply, a late one) cost one
// window per attempt, so the rows spend them where the attempt counts are the point; faults the
// engine sees at once (damage, wrong letters, garbage, a hang-up) run on every step.
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
        Row{"late", {"query:delay=300"}, Outcome::Error, "query"},
        Row{"port_vanishes", {"query:reply=none,hangup"}, Outcome::Error, "query"}),
    rowName);

INSTANTIATE_TEST_SUITE_P(
    Connect, FaultMatrix,
    ::testing::Values(
        Row{"echo_only", {"connect:reply=none"}, Outcome::ConnectFailed, "query connect"},
        Row{"first_letter_only", {"connect:short"}, Outcome::ConnectFailed, "query connect"},
        Row{"cr_without_lf",
            {"connect:reply=hex:43540D0D"},
            Outcome::ConnectFailed,
            "query connect"},
        Row{"ok_instead_of_ct", {"connect:reply=OK"}, Outcome::ConnectFailed, "query connect"},
        Row{"garbage_first", {"connect:garbage=3"}, Outcome::ConnectFailed, "query connect"},
        Row{"late", {"connect:delay=300"}, Outcome::ConnectFailed, "query connect"},
        Row{"port_vanishes",
            {"connect:reply=none,hangup"},
            Outcome::ConnectFailed,
            "query connect"}),
    rowName);

INSTANTIATE_TEST_SUITE_P(
    Erase, FaultMatrix,
    ::testing::Values(
        Row{"dead_line_3_times",
            {"erase:noecho,reply=none"},
            Outcome::EraseFailed,
            kToErase + "*3"},
        Row{"lf_missing_twice_then_be",
            {"erase#1-2:nolf"},
            Outcome::Completed,
            "query connect erase*3 C0000 E0000 FEC00 end"},
        Row{"cr_without_lf_3_times",
            {"erase:reply=hex:42450D0D"},
            Outcome::EraseFailed,
            kToErase + "*3"},
        Row{"ng_twice_then_be",
            {"erase#1-2:reply=NG"},
            Outcome::Completed,
            "query connect erase*3 C0000 E0000 FEC00 end"},
        // "OK" ends the attempts like "BE" does, but only "BE" lets the run go on.
        Row{"ok_instead_of_be", {"erase:reply=OK"}, Outcome::EraseFailed, kToErase},
        Row{"garbage_first_3_times", {"erase:garbage=5"}, Outcome::EraseFailed, kToErase + "*3"},
        // Later than all three windows: the replies land after the run has given up.
        Row{"late_3_times", {"erase:delay=600"}, Outcome::EraseFailed, kToErase + "*3"},
        // A reply that misses its window by less than a window lands in the next attempt's and
        // is taken for it: the same packet, so the radio's answer holds for both.
        Row{"always_late_by_a_third_of_a_window",
            {"erase:delay=200"},
            Outcome::Completed,
            "query connect erase*2 C0000 E0000 FEC00 end"},
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
            {"program@0xE0000:delay=200"},
            Outcome::Completed,
            kToErase + " C0000 E0000*2 FEC00 end"},
        Row{"last_block_late_10_times",
            {"program@0xFEC00:delay=1650"},
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
        Row{"late_once_then_ed", {"end#1:delay=225"}, Outcome::Completed, kAll + "*2"},
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

TEST(BuiltInFirmware, CompletesWithTheRadiosFlashEqualToTheImage)
{
    Bench bench(kShortWindow);
    ASSERT_TRUE(bench.ready()) << bench.problem();

    EXPECT_EQ(text(bench.session.runStart()), text(Outcome::Completed));

    EXPECT_TRUE(flashMatchesImage(bench.sim, bench.session.image()));
    EXPECT_EQ(bench.sim.count(Command::Program), 250);
    EXPECT_EQ(bench.sim.count(Command::End), 1);
    EXPECT_TRUE(bench.sim.errors().isEmpty());
}

// The engine's own guard, whichever front end drives it: without the option a Start run ends
// before the port is opened, and nothing can replace the image while a run writes it.
TEST(TestImage, TheEngineRefusesItBeforeThePortAndKeepsItsImageDuringARun)
{
    Bench bench(kShortWindow);
    ASSERT_TRUE(bench.ready()) << bench.problem();
    bench.session.setAllowTestFirmware(false);
    EXPECT_EQ(text(bench.session.runStart()), text(Outcome::TestImageRefused));
    EXPECT_EQ(text(bench.session.runProgramming()), text(Outcome::TestImageRefused));
    EXPECT_TRUE(bench.sim.log().isEmpty());
    EXPECT_FALSE(bench.session.link().MSComm1().PortOpen());

    bench.session.setAllowTestFirmware(true);
    std::optional<FirmwareFileError> duringRun;
    bench.sim.setScript([&](const sim::Request& request) -> std::optional<sim::Response> {
        if (request.command == Command::Erase)
            duringRun = bench.session.loadFirmwareFile(QStringLiteral("/dev/null"));
        return std::nullopt;
    });
    EXPECT_EQ(text(bench.session.runStart()), text(Outcome::Completed));
    ASSERT_TRUE(duringRun);
    EXPECT_NE(duringRun->message.find("a run is in progress"), std::string::npos);
    EXPECT_TRUE(flashMatchesImage(bench.sim, bench.session.image()));
}

} // namespace
} // namespace tqb9::faults
