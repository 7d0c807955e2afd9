// The hands-free cycle on simulated radios over real pseudo-terminals: a radio already on the cable
// when automatic is switched on is held, not written; a radio put on is written once, the next one
// put on after it is written too; a radio of another region is reported once and never written;
// an adapter pulled mid-write ends that port alone, and so does a radio taken off its cable, each
// of whose unanswered attempts is told as it happens.
#include "run/watch.h"
#include "sim/simradio.h"
#include "support/needspty.h"

#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <QAbstractEventDispatcher>
#include <QEventLoop>
#include <QFile>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTimer>
#include <vector>

namespace tqb9 {
namespace {

using namespace std::chrono_literals;
using sim::Command;

// Short enough that a cycle takes a moment, long enough that an unpaced radio's answer (well
// under a millisecond) always falls inside a probe's window.
constexpr PortWatch::Timing kQuick{100ms, 50ms, 400ms};
// Nothing here should take more than a second or two; a hang ends the case, not the suite.
constexpr std::chrono::milliseconds kLimit{20s};

// Runs this thread's event loop, where the simulated radios run, until done() holds or the limit
// passes. done() is looked at each time the loop has handled what came and is about to sleep,
// so nothing is missed and nothing spins on a clock.
bool waitUntil(const std::function<bool()>& done)
{
    if (done())
        return true;
    QEventLoop loop;
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock,
                     &loop, [&] {
                         if (done())
                             loop.quit();
                     });
    QTimer::singleShot(kLimit, &loop, &QEventLoop::quit);
    loop.exec();
    return done();
}

// One port under watch, with what it reported.
struct Watched {
    explicit Watched(const QString& device, std::chrono::milliseconds replyWindow = {})
        : watch({.port = device,
                 .bindings = {{1, device}},
                 .firmware = {}, // the built-in one
                 .allowTestFirmware = true,
                 .replyWindow = replyWindow},
                kQuick)
    {
        QObject::connect(&watch, &PortWatch::runFinished,
                         [this](const RunReport& report) { reports.push_back(report); });
        QObject::connect(&watch, &PortWatch::stateChanged,
                         [this](PortWatch::State state) { states.push_back(state); });
        QObject::connect(&watch, &PortWatch::unanswered, [this](Step step) {
            if (reports.empty())
                unansweredBeforeEnd.push_back(step);
        });
    }

    PortWatch watch;
    std::vector<RunReport> reports;
    std::vector<PortWatch::State> states;
    std::vector<Step> unansweredBeforeEnd; // attempts of the first run that heard no reply
};

std::string text(Outcome outcome)
{
    return messageFor(outcome).toStdString();
}

TEST(PortWatch, WritesEachRadioPutOnOnceAndNotOneThatWasOnAlready)
{
    TQB9_NEEDS_PTY();
    sim::SimRadio radio;
    QString why;
    ASSERT_TRUE(radio.start(&why)) << why.toStdString();
    Watched port(radio.devicePath());
    port.watch.setAutomatic(true);

    // On the cable when automatic was switched on: held, whatever it answers, until it goes.
    ASSERT_TRUE(waitUntil([&] { return radio.count(Command::Query) >= 4; }));
    EXPECT_EQ(port.watch.state(), PortWatch::State::Held);
    EXPECT_EQ(std::count(port.states.begin(), port.states.end(), PortWatch::State::Waiting), 0);
    EXPECT_EQ(radio.count(Command::Connect), 0);
    EXPECT_TRUE(port.reports.empty());
    radio.setPresent(false);
    ASSERT_TRUE(waitUntil([&] { return port.watch.state() == PortWatch::State::Waiting; }));

    for (int n = 1; n <= 2; ++n) {
        SCOPED_TRACE(n);
        radio.setPresent(true);
        ASSERT_TRUE(waitUntil([&] { return port.reports.size() == static_cast<std::size_t>(n); }));
        // That a completed run leaves the image in the radio is the command line's test
        // (CliRun.CompletedRunLeavesTheBuiltInFirmwareInTheRadio).
        EXPECT_EQ(text(port.reports.back().outcome), text(Outcome::Completed));
        EXPECT_TRUE(radio.errors().isEmpty());
        // Still on the cable and answering every probe: held, never written again.
        const int queries = radio.count(Command::Query);
        ASSERT_TRUE(waitUntil([&] { return radio.count(Command::Query) >= queries + 4; }));
        EXPECT_EQ(port.watch.state(), PortWatch::State::Held);
        EXPECT_EQ(radio.count(Command::Connect), 1);
        EXPECT_EQ(port.reports.size(), static_cast<std::size_t>(n));

        radio.setPresent(false);
        ASSERT_TRUE(waitUntil([&] { return port.watch.state() == PortWatch::State::Waiting; }));
    }

    // The port stays open between probes, and is let go once nothing is watched.
    port.watch.setAutomatic(false);
    ASSERT_TRUE(waitUntil([&] { return port.watch.state() == PortWatch::State::Idle; }));
    QSerialPort other(radio.devicePath());
    EXPECT_TRUE(other.open(QIODevice::ReadWrite)) << other.errorString().toStdString();
}

TEST(PortWatch, ReportsARadioOfAnotherRegionOnceAndNeverWritesIt)
{
    TQB9_NEEDS_PTY();
    sim::SimRadio radio;
    QString why;
    ASSERT_TRUE(radio.start(&why)) << why.toStdString();
    radio.setReplyLetters(Command::Query, "RE");
    radio.setPresent(false);
    Watched port(radio.devicePath());
    port.watch.setAutomatic(true);
    ASSERT_TRUE(waitUntil([&] { return port.watch.state() == PortWatch::State::Waiting; }));
    radio.setPresent(true);

    ASSERT_TRUE(waitUntil([&] { return !port.reports.empty(); }));
    ASSERT_TRUE(waitUntil([&] { return radio.count(Command::Query) >= 5; }));
    ASSERT_EQ(port.reports.size(), 1u);
    EXPECT_EQ(text(port.reports.front().outcome), text(Outcome::RegionError));
    EXPECT_EQ(port.reports.front().status, 2);
    EXPECT_EQ(port.watch.state(), PortWatch::State::Held);
    // Nothing but the query ever reached it, so nothing could be written.
    EXPECT_EQ(radio.count(Command::Query), radio.log().size());
}

TEST(PortWatch, AnAdapterPulledMidWriteEndsThatPortAloneAndComesBack)
{
    TQB9_NEEDS_PTY();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    std::vector<std::unique_ptr<sim::SimRadio>> radios;
    std::vector<std::unique_ptr<Watched>> ports;
    for (int i = 0; i < 4; ++i) {
        radios.push_back(std::make_unique<sim::SimRadio>());
        QString why;
        ASSERT_TRUE(radios.back()->start(&why)) << why.toStdString();
        radios.back()->setPresent(false);
        // The port is a name that outlives its adapter, as /dev/serial/by-id/... does.
        const QString link = dir.filePath(QStringLiteral("port%1").arg(i));
        ASSERT_TRUE(QFile::link(radios.back()->devicePath(), link));
        ports.push_back(std::make_unique<Watched>(link, i == 3 ? 300ms : 0ms));
    }
    sim::SimRadio& pulled = *radios[1];
    const QString pulledLink = dir.filePath(QStringLiteral("port1"));
    QObject::connect(&pulled, &sim::SimRadio::requestHandled, [&pulled, pulledLink] {
        if (pulled.count(Command::Program) == 100) {
            pulled.hangUp();
            // Its name goes with it, as a by-id name does: left behind, it would lead to whatever
            // pseudo-terminal another program is given that number next.
            QFile::remove(pulledLink);
        }
    });
    // The adapter stays; the radio goes, with the answer it was about to send.
    sim::SimRadio& takenOff = *radios[3];
    QObject::connect(&takenOff, &sim::SimRadio::requestHandled, [&takenOff] {
        if (takenOff.count(Command::Program) == 100)
            takenOff.setPresent(false);
    });
    for (const auto& port : ports)
        port->watch.setAutomatic(true);
    ASSERT_TRUE(waitUntil([&] {
        return std::all_of(ports.begin(), ports.end(), [](const auto& port) {
            return port->watch.state() == PortWatch::State::Waiting;
        });
    }));
    for (const auto& radio : radios)
        radio->setPresent(true);

    ASSERT_TRUE(waitUntil([&] {
        return std::all_of(ports.begin(), ports.end(),
                           [](const auto& port) { return !port->reports.empty(); });
    }));
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        const RunReport& report = ports[i]->reports.front();
        const bool lost = i == 1 || i == 3;
        EXPECT_EQ(text(report.outcome), text(lost ? Outcome::WriteFailed : Outcome::Completed));
        if (lost) {
            EXPECT_EQ(report.step, Step::Write);
        }
    }
    // The block in flight when it went keeps all its ten attempts, a radio that is only slow may
    // still answer one; each unanswered one is told as its window ends, not only at the run's end.
    const RunReport& silent = ports[3]->reports.front();
    EXPECT_EQ(silent.finding.reason, Finding::Reason::Silent);
    EXPECT_EQ(silent.attempts.at(static_cast<std::size_t>(Step::Write)), silent.blocksWritten + 10);
    EXPECT_EQ(ports[3]->unansweredBeforeEnd, std::vector<Step>(10, Step::Write));
    ASSERT_TRUE(waitUntil([&] { return ports[1]->watch.state() == PortWatch::State::Vanished; }));

    // Another adapter where the first was, with a new radio on it.
    sim::SimRadio again;
    QString why;
    ASSERT_TRUE(again.start(&why)) << why.toStdString();
    again.setPresent(false);
    ASSERT_TRUE(QFile::link(again.devicePath(), pulledLink));
    // The port is back, and the radio that failed on it counts as gone.
    ASSERT_TRUE(waitUntil([&] { return ports[1]->watch.state() == PortWatch::State::Waiting; }));
    again.setPresent(true);
    ASSERT_TRUE(waitUntil([&] { return ports[1]->reports.size() == 2; }));
    EXPECT_EQ(text(ports[1]->reports.back().outcome), text(Outcome::Completed));
    EXPECT_EQ(again.count(Command::End), 1);
    for (int i : {0, 2, 3})
        EXPECT_EQ(ports[i]->reports.size(), 1u);
}

// A Stop in the write may leave the radio in flash mode, where it answers no model query: the
// stopped run says so, and so does the next run on that port, whose query goes unanswered.
TEST(PortWatch, AStoppedWriteIsRememberedByTheNextUnansweredQuery)
{
    TQB9_NEEDS_PTY();
    sim::SimRadio radio;
    QString why;
    ASSERT_TRUE(radio.start(&why)) << why.toStdString();
    // Whether the stop cut a packet short or not, it answers no query in flash mode, as radios do.
    radio.setScript([&radio](const sim::Request& request) -> std::optional<sim::Response> {
        if (request.command == Command::Query && radio.inFlashMode())
            return sim::Response{.reply = QByteArray()};
        return std::nullopt;
    });
    Watched port(radio.devicePath(), 300ms);
    int blocks = 0;
    QObject::connect(&port.watch, &PortWatch::blockWritten, [&] {
        if (++blocks == 3)
            port.watch.stop();
    });
    const auto runOnce = [&port](std::size_t n) {
        port.watch.start();
        return waitUntil([&] { return port.reports.size() == n; });
    };

    ASSERT_TRUE(runOnce(1));
    const RunReport stopped = port.reports.back();
    EXPECT_EQ(stopped.stoppedBy, StoppedBy::Operator);
    EXPECT_EQ(stopped.step, Step::Write);
    EXPECT_TRUE(stopped.finding.mayBeInFlashMode);
    EXPECT_TRUE(radio.inFlashMode());

    ASSERT_TRUE(runOnce(2));
    const RunReport unanswered = port.reports.back();
    EXPECT_EQ(text(unanswered.outcome), text(Outcome::Error));
    EXPECT_TRUE(unanswered.finding.afterStopInFlashMode);
    EXPECT_EQ(radio.count(Command::Connect), 1);
}

} // namespace
} // namespace tqb9
