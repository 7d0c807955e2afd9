// Pulling the cable in the middle of the write, from each front end: the engine, the command line
// and the window all end in "Write failed." as soon as the port fails, not when the reply window
// runs out, with the port closed and no end packet sent.
#include "faults/harness.h"
#include "faults/unplug.h"
#include "ui/frmmain.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QEventLoop>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

namespace tqb9::faults {
namespace {

using namespace std::chrono_literals;

enum class FrontEnd { Engine, CommandLine, Window };

struct Row {
    const char* name;
    FrontEnd frontEnd;
    Unplug::When when;
};

void PrintTo(const Row& row, std::ostream* out)
{
    *out << row.name;
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
    explicit Window(const Unplug& unplug) : m_unplug(unplug) {}

    QStringList shown;
    qint64 ms = -1;

protected:
    void showMessage(const QString& text, int /*style*/, const QString& /*title*/,
                     const QString& /*informative*/) override
    {
        shown.append(text);
        ms = m_unplug.elapsedMs();
    }

private:
    const Unplug& m_unplug;
};

Seen throughTheEngine(Bench& bench, Unplug::When when)
{
    Unplug unplug(bench.sim, kUnpluggedAtBlock, when);
    Seen seen;
    seen.shown.append(QString::fromStdString(text(bench.start())));
    seen.ms = unplug.elapsedMs();
    seen.portClosed = !bench.portOpen();
    return seen;
}

Seen throughTheWindow(sim::SimRadio& radio)
{
    Unplug unplug(radio, kUnpluggedAtBlock);
    Window window(unplug);
    window.Form_Load();
    window.setAllowTestFirmware(true);
    window.ports().bind(1, radio.devicePath());
    // The window's own reply window is the radio's 5000 ms, as long as kLongWindow.
    window.show();

    window.cmdZumil()->click();

    Seen seen;
    seen.shown = window.shown;
    seen.ms = window.ms;
    seen.portClosed = !window.portOpen();
    seen.readyAgain = window.cmdZumil()->isEnabled() && !window.bar()->isVisible();
    return seen;
}

#ifdef TQB9_CLI
Seen throughTheCommandLine(sim::SimRadio& radio)
{
    Unplug unplug(radio, kUnpluggedAtBlock);
    QProcess cli;
    cli.setProgram(QStringLiteral(TQB9_CLI));
    // The program's own window is the radio's 5000 ms, as long as kLongWindow.
    cli.setArguments({QStringLiteral("--port"), radio.devicePath(), QStringLiteral("--quiet"),
                      QStringLiteral("--allow-test-firmware")});
    Seen seen;
    QEventLoop loop;
    QObject::connect(&cli, &QProcess::finished, &loop, [&] {
        seen.ms = unplug.elapsedMs();
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

    const QByteArray out = cli.readAllStandardOutput();
    seen.shown.append(QString::fromUtf8(out).trimmed());
    EXPECT_TRUE(out.endsWith('\n')) << out.toStdString();
    EXPECT_EQ(cli.exitStatus(), QProcess::NormalExit) << "tq-b9-cli crashed";
    EXPECT_EQ(cli.exitCode(), 5) << cli.readAllStandardError().toStdString();
    // Only the process knows its port; it is closed once the process has exited.
    seen.portClosed = cli.state() == QProcess::NotRunning;
    return seen;
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
    Bench bench(Bench::Line::Pty, kLongWindow);
    ASSERT_TRUE(bench.ready()) << bench.problem();
    sim::SimRadio* radio = &bench.sim;
    sim::SimRadio own;

    Seen seen;
    switch (row.frontEnd) {
    case FrontEnd::Engine:
        seen = throughTheEngine(bench, row.when);
        break;
    case FrontEnd::Window:
    case FrontEnd::CommandLine: {
        // A radio of its own, so the bench's session holds no port the front end wants.
        QString why;
        ASSERT_TRUE(own.start(&why)) << why.toStdString();
        radio = &own;
        if (row.frontEnd == FrontEnd::Window) {
            seen = throughTheWindow(own);
        } else {
#ifdef TQB9_CLI
            seen = throughTheCommandLine(own);
#else
            GTEST_SKIP() << "tq-b9-cli is not built";
#endif
        }
        break;
    }
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

INSTANTIATE_TEST_SUITE_P(
    FrontEnds, Unplugging,
    ::testing::Values(Row{"engine_inside_a_packet", FrontEnd::Engine, Unplug::When::InsidePacket},
                      Row{"engine_awaiting_the_reply", FrontEnd::Engine,
                          Unplug::When::AwaitingReply},
                      Row{"command_line", FrontEnd::CommandLine, Unplug::When::InsidePacket},
                      Row{"window", FrontEnd::Window, Unplug::When::InsidePacket}),
    rowName);

} // namespace
} // namespace tqb9::faults

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
