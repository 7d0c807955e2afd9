// Whole Start runs against a radio that misbehaves at random: wrong, cut, late, damaged or missing
// replies, missing echoes and hang-ups, several per run. The rows of the fault matrix fix one
// fault and its exact consequence; these runs check only what must hold after any of them:
//
// - every step the run got past was accepted by the radio, for a packet of that step (a late
//   reply to one block never passes for another's), and "Completed." means the flash is the image;
// - the radio received nothing of a step the run never entered, and no malformed request at all;
// - the port is closed at the end.
//
// On the scripted line with the real 5000 ms window, so a run takes milliseconds. A failure names
// its seed; TQB9_FAULT_SEED=N replays that run alone, TQB9_FAULT_RUNS=N runs more of them.
#include "faults/harness.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <QMap>
#include <random>

namespace tqb9::faults {
namespace {

using sim::Command;
using namespace std::chrono_literals;

// Whether the radio said yes, in full, to some request of this kind (and for a program packet, of
// this block): its answer, after any junk the line put before it, is one that lets a run past it.
bool radioAccepted(const sim::SimRadio& sim, Command command, quint32 address = 0)
{
    // The query's "OK" comes framed in CR LF; every other answer is two letters and CR LF.
    static const QMap<Command, QList<QByteArray>> kYes{{Command::Query, {"\r\nOK\r\n"}},
                                                       {Command::Connect, {"CT\r\n"}},
                                                       {Command::Erase, {"BE\r\n"}},
                                                       {Command::Program, {"OK\r\n", "PG\r\n"}},
                                                       {Command::End, {"ED\r\n"}}};
    const QList<QByteArray> yes = kYes.value(command);
    return std::any_of(sim.log().begin(), sim.log().end(), [&](const sim::Exchange& e) {
        return e.request.command == command && e.sent &&
               (command != Command::Program || e.request.address == address) &&
               std::any_of(yes.begin(), yes.end(),
                           [&e](const QByteArray& end) { return e.reply.endsWith(end); });
    });
}

sim::Response randomFault(std::mt19937& rng)
{
    const auto pick = [&rng](int n) {
        return std::uniform_int_distribution<int>(0, n - 1)(rng);
    };
    static const char* const kLetters[] = {"OK", "NG", "PG", "BE", "ED", "CT", "RE", "X\n"};
    // Up to two windows late: later replies are beyond what any wait before the next packet covers.
    static const std::chrono::milliseconds kDelays[] = {40ms, 4900ms, 5100ms, 7000ms, 9900ms};
    sim::Response response;
    for (int actions = 1 + pick(2); actions > 0; --actions) {
        switch (pick(7)) {
        case 0:
            response.reply = QByteArray(kLetters[pick(8)]) + "\r\n";
            break;
        case 1:
            response.reply = QByteArray();
            break;
        case 2:
            response.cut = 1 + pick(4);
            break;
        case 3:
            // Junk that may hold an LF, which looks like the end of a reply.
            for (int n = 1 + pick(6); n > 0; --n)
                response.garbage += "AK\n\r\xFF"[pick(5)];
            break;
        case 4:
            response.delay = kDelays[pick(5)];
            break;
        case 5:
            response.echo = false;
            break;
        default:
            response.hangUp = pick(4) == 0;
            break;
        }
    }
    return response;
}

void randomRun(unsigned seed)
{
    SCOPED_TRACE("TQB9_FAULT_SEED=" + std::to_string(seed));
    Bench bench(Bench::Line::Scripted);
    ASSERT_TRUE(bench.ready()) << bench.problem();
    bench.session.setFirmware(Firmware::fromImage(threeBlocks()));
    std::mt19937 rng(seed);
    // Dense enough that most runs fail somewhere, sparse enough that some complete.
    bench.sim.setScript([&rng](const sim::Request&) -> std::optional<sim::Response> {
        if (std::uniform_int_distribution<int>(0, 99)(rng) >= 30)
            return std::nullopt;
        return randomFault(rng);
    });

    const Outcome outcome = bench.start();
    bench.settle();

    EXPECT_FALSE(bench.portOpen());
    EXPECT_EQ(bench.steps, stepsUpTo(outcome)) << text(outcome);

    // Every step entered was passed, but the one a failed run ended at. The radio's commands are
    // numbered in the order of the steps that send them.
    const int passed = stepsEntered(outcome) - (outcome == Outcome::Completed ? 0 : 1);
    for (int step = 0; step < passed; ++step) {
        const auto command = static_cast<Command>(step);
        if (command != Command::Program) {
            EXPECT_TRUE(radioAccepted(bench.sim, command))
                << text(outcome) << " past the " << sim::commandName(command).toStdString()
                << " step, which the radio never accepted";
            continue;
        }
        for (const quint32 block : {0xC0000u, 0xE0000u, 0xFEC00u}) {
            EXPECT_TRUE(radioAccepted(bench.sim, Command::Program, block))
                << text(outcome) << " past block " << std::hex << block
                << " which the radio never accepted";
        }
    }
    if (outcome == Outcome::Completed) {
        EXPECT_TRUE(flashMatchesImage(bench.sim, bench.session.firmware().image()));
    }

    // Requests only of steps the run entered, and none the radio could fault.
    for (const sim::Exchange& e : bench.sim.log()) {
        EXPECT_LT(static_cast<int>(e.request.command), stepsEntered(outcome))
            << text(outcome) << " but the radio received " << word(e.request);
    }
    for (const sim::Error& error : bench.sim.errors())
        ADD_FAILURE() << "the radio found " << error.message.toStdString();
}

TEST(RandomFaults, EveryRunEndsInAMessageTheRadioBearsOut)
{
    if (const char* one = std::getenv("TQB9_FAULT_SEED")) {
        randomRun(static_cast<unsigned>(std::strtoul(one, nullptr, 10)));
        return;
    }
    const char* more = std::getenv("TQB9_FAULT_RUNS");
    const int runs = more ? std::atoi(more) : 1000;
    for (int seed = 1; seed <= runs && !HasFailure(); ++seed)
        randomRun(static_cast<unsigned>(seed));
}

} // namespace
} // namespace tqb9::faults
