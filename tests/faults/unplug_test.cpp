// Pulling the cable in the middle of the write: the engine and the command line front end end
// in "Write failed." as soon as the port fails, not when the reply window runs out.
#include "faults/harness.h"
#include "faults/unplug.h"

#include <gtest/gtest.h>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>

namespace tqb9::faults {
namespace {

using namespace std::chrono_literals;

class UnpluggingTheSession : public ::testing::TestWithParam<Unplug::When> {};

TEST_P(UnpluggingTheSession, InTheMiddleOfTheWriteEndsTheRunWithinOneWindow)
{
    Bench bench(Bench::Line::Pty, kLongWindow);
    ASSERT_TRUE(bench.ready()) << bench.problem();
    Unplug unplug(bench.sim, kUnpluggedAtBlock, GetParam());

    const Outcome outcome = bench.start();
    const qint64 ms = unplug.elapsedMs();

    EXPECT_EQ(text(outcome), text(Outcome::WriteFailed));
    ASSERT_GE(ms, 0) << "the radio never hung up";
    EXPECT_LT(ms, kNoticeWithin.count());
    EXPECT_FALSE(bench.portOpen());
    EXPECT_EQ(bench.sim.count(sim::Command::Program), kUnpluggedAtBlock);
    EXPECT_EQ(bench.sim.count(sim::Command::End), 0);
    ::testing::Test::RecordProperty("ms_from_hang_up_to_outcome", static_cast<int>(ms));
}

std::string momentName(const ::testing::TestParamInfo<Unplug::When>& info)
{
    return info.param == Unplug::When::InsidePacket ? "inside_a_packet" : "awaiting_the_reply";
}

INSTANTIATE_TEST_SUITE_P(Moments, UnpluggingTheSession,
                         ::testing::Values(Unplug::When::InsidePacket, Unplug::When::AwaitingReply),
                         momentName);

#ifdef TQB9_CLI
TEST(Unplugging, InTheMiddleOfTheWriteEndsTheCommandLineRunWithinOneWindow)
{
    sim::SimRadio radio;
    QString why;
    ASSERT_TRUE(radio.start(&why)) << why.toStdString();
    Unplug unplug(radio, kUnpluggedAtBlock);

    QProcess cli;
    cli.setProgram(QStringLiteral(TQB9_CLI));
    // The program's own window is the radio's 5000 ms, as long as kLongWindow.
    cli.setArguments({QStringLiteral("--port"), radio.devicePath(), QStringLiteral("--quiet"),
                      QStringLiteral("--allow-test-firmware")});
    qint64 ms = -1;
    QEventLoop loop;
    QObject::connect(&cli, &QProcess::finished, &loop, [&] {
        ms = unplug.elapsedMs();
        loop.quit();
    });
    QObject::connect(&cli, &QProcess::errorOccurred, &loop, [&](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            loop.quit();
    });
    // The radio runs on this thread's event loop; the program must finish while it does.
    QTimer::singleShot(60s, &loop, [&] {
        ADD_FAILURE() << "tq-b9-cli did not finish";
        cli.kill();
        loop.quit();
    });
    cli.start();
    loop.exec();
    cli.waitForFinished(1000);

    ASSERT_EQ(cli.exitStatus(), QProcess::NormalExit) << "tq-b9-cli crashed";
    EXPECT_EQ(cli.exitCode(), 5) << cli.readAllStandardError().toStdString();
    EXPECT_EQ(cli.readAllStandardOutput(), QByteArray("Write failed.\n"));
    ASSERT_GE(ms, 0) << "the radio never hung up";
    EXPECT_LT(ms, kNoticeWithin.count());
    // The radio reads on as long as bytes keep arriving, and a program in another process can
    // keep them coming for a few more blocks before the hang-up gets its turn.
    EXPECT_GE(radio.count(sim::Command::Program), kUnpluggedAtBlock);
    EXPECT_EQ(radio.count(sim::Command::End), 0);
    ::testing::Test::RecordProperty("ms_from_hang_up_to_exit", static_cast<int>(ms));
}
#endif

} // namespace
} // namespace tqb9::faults
