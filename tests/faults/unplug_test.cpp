// Pulling the cable in the middle of the write, from each front end: the engine, the command line
// and the window all end in "Write failed." as soon as the port fails, not when the reply window
// runs out, with the port closed and no end packet sent.
#include "faults/harness.h"
#include "ui/frmmain.h"
#ifdef TQB9_CLI
#include "cli/cliprocess.h"
#endif

#include <gtest/gtest.h>
#include <QApplication>
#include <QElapsedTimer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

namespace tqb9::faults {
namespace {

// What noticing may take: the kernel's hang-up, Qt's error, closing the port, the message.
constexpr std::chrono::milliseconds kNoticeWithin{1000};
// Deep enough into the write that earlier blocks went through and later ones are still to come.
constexpr int kUnpluggedAtBlock = 100;

enum class FrontEnd { Engine, CommandLine, Window };

struct Row {
    const char* name;
    FrontEnd frontEnd;
    // Pulled once the program has its echo and waits for the answer, not while the radio is
    // still taking the packet in.
    bool awaitingReply = false;
};

void PrintTo(const Row& row, std::ostream* out)
{
    *out << row.name;
}

// Pulls the cable at the kUnpluggedAtBlock-th program packet, and starts since at that moment.
void unplug(sim::SimRadio& radio, bool awaitingReply, QElapsedTimer& since)
{
    radio.setScript(
        [&radio, awaitingReply](const sim::Request& request) -> std::optional<sim::Response> {
            if (request.command != sim::Command::Program || request.number != kUnpluggedAtBlock)
                return std::nullopt;
            if (awaitingReply)
                return sim::Response{.reply = QByteArray(), .hangUp = true};
            // The script runs as the packet's first bytes arrive; the hang-up waits for the radio
            // to return to the event loop, so the rest of the packet is still on its way.
            QTimer::singleShot(0, &radio, &sim::SimRadio::hangUp);
            return std::nullopt;
        });
    QObject::connect(&radio, &sim::SimRadio::hungUp, &radio, [&since] { since.start(); });
}

qint64 msSince(const QElapsedTimer& since)
{
    return since.isValid() ? since.elapsed() : -1;
}

// What a front end showed, and how long after the hang-up.
struct Seen {
    QStringList shown;
    qint64 ms = -1;
    bool portClosed = false;
    // The window takes the next Start; the command line exits with its status.
    bool readyAgain = true;
};

// The window with its modal box replaced by a note of what it would have said, and when.
class Window : public frmMain {
public:
    explicit Window(const QElapsedTimer& since) : m_since(since) {}

    Seen seen;

protected:
    void showMessage(const QString& text, int /*style*/, const QString& /*title*/,
                     const QString& /*informative*/) override
    {
        seen.shown.append(text);
        seen.ms = msSince(m_since);
    }

private:
    const QElapsedTimer& m_since;
};

Seen throughTheEngine(Bench& bench, const QElapsedTimer& since)
{
    const Outcome outcome = bench.start();
    return {{QString::fromStdString(text(outcome))}, msSince(since), !bench.portOpen()};
}

Seen throughTheWindow(sim::SimRadio& radio, const QElapsedTimer& since)
{
    Window window(since);
    window.Form_Load();
    window.setAllowTestFirmware(true);
    window.ports().bind(1, radio.devicePath());
    // The window's own reply window is the radio's 5000 ms, as the engine's.
    window.show();
    window.cmdZumil()->click();
    window.seen.portClosed = !window.portOpen();
    window.seen.readyAgain = window.cmdZumil()->isEnabled() && !window.bar()->isVisible();
    return window.seen;
}

#ifdef TQB9_CLI
Seen throughTheCommandLine(sim::SimRadio& radio, const QElapsedTimer& since)
{
    // The program's own window is the radio's 5000 ms, as the engine's.
    const testing::CliResult r =
        testing::runCli({QStringLiteral("--port"), radio.devicePath(), QStringLiteral("--quiet"),
                         QStringLiteral("--allow-test-firmware")});
    EXPECT_TRUE(r.out.endsWith('\n')) << r.out.toStdString();
    EXPECT_EQ(r.status, 5) << r.err.toStdString();
    // Only the process knows its port; it is closed once the process has exited.
    const bool exited = r.finished.isValid();
    return {{r.out.trimmed()}, since.isValid() && exited ? since.msecsTo(r.finished) : -1, exited};
}
#endif

std::string rowName(const ::testing::TestParamInfo<Row>& row)
{
    return row.param.name;
}

class Unplugging : public ::testing::TestWithParam<Row> {};

TEST_P(Unplugging, InTheMiddleOfTheWriteEndsTheRunWithinOneWindow)
{
    const Row& row = GetParam();
    QElapsedTimer since;
    // The radio's own window: a program that waited it out after an unplugged cable could not pass
    // for one that noticed.
    Bench bench(Bench::Line::Pty, PreciseWindow::kRadioWindow);
    ASSERT_TRUE(bench.ready()) << bench.problem();
    // Any other front end gets a radio of its own, so the bench's session holds no port it wants.
    sim::SimRadio own;
    sim::SimRadio* radio = &bench.sim;
    if (row.frontEnd != FrontEnd::Engine) {
        QString why;
        ASSERT_TRUE(own.start(&why)) << why.toStdString();
        radio = &own;
    }
    unplug(*radio, row.awaitingReply, since);

    Seen seen;
    switch (row.frontEnd) {
    case FrontEnd::Engine:
        seen = throughTheEngine(bench, since);
        break;
    case FrontEnd::Window:
        seen = throughTheWindow(own, since);
        break;
    case FrontEnd::CommandLine:
#ifdef TQB9_CLI
        seen = throughTheCommandLine(own, since);
        break;
#else
        GTEST_SKIP() << "tq-b9-cli is not built";
#endif
    }

    EXPECT_EQ(seen.shown, QStringList{QStringLiteral("Write failed.")});
    ASSERT_GE(seen.ms, 0) << "the radio never hung up";
    EXPECT_LT(seen.ms, kNoticeWithin.count());
    EXPECT_TRUE(seen.portClosed);
    EXPECT_TRUE(seen.readyAgain);
    if (row.frontEnd == FrontEnd::CommandLine) {
        // The radio reads on as long as bytes keep arriving, and a program in another process
        // can keep them coming for a few more blocks before the hang-up gets its turn.
        EXPECT_GE(radio->count(sim::Command::Program), kUnpluggedAtBlock);
    } else {
        EXPECT_EQ(radio->count(sim::Command::Program), kUnpluggedAtBlock);
    }
    EXPECT_EQ(radio->count(sim::Command::End), 0);
    ::testing::Test::RecordProperty("ms_from_hang_up_to_outcome", static_cast<int>(seen.ms));
}

INSTANTIATE_TEST_SUITE_P(FrontEnds, Unplugging,
                         ::testing::Values(Row{"engine_inside_a_packet", FrontEnd::Engine},
                                           Row{"engine_awaiting_the_reply", FrontEnd::Engine, true},
                                           Row{"command_line", FrontEnd::CommandLine},
                                           Row{"window", FrontEnd::Window}),
                         rowName);

} // namespace
} // namespace tqb9::faults

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
