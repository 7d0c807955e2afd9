#pragma once

#include "link/portmap.h"
#include "run/diagnosis.h"
#include "run/session.h"

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <utility>

namespace tqb9 {

// Who ended a run before its end: the operator's Stop (a window's), or a signal to the program.
enum class StoppedBy { Nobody, Operator, Sigint, Sigterm };
// "operator", "SIGINT", "SIGTERM": keys for scripts and logs; nothing for Nobody.
const char* stopKey(StoppedBy by);
// SIGINT and SIGTERM as who stopped a run.
StoppedBy stoppedBySignal(int signalNumber);

// How one radio's run ended: everything a front end shows or logs of it.
struct RunReport {
    QString port;      // as given
    QString device;    // what the run opened, or tried to; empty when the port maps to nothing
    QDateTime started; // UTC
    double seconds = 0;
    Outcome outcome = Outcome::Error;
    Step step = Step::Query; // the last step that ran: the failed one, unless completed
    int status = 0;          // the exit status this run alone would give
    StoppedBy stoppedBy = StoppedBy::Nobody; // a run stopped is not failed, whatever its step
    // Exchanges per step (text commands and packets, every attempt), indexed by Step.
    std::array<int, 5> attempts{};
    int blocksWritten = 0;
    int blocksToWrite = 0; // known once the write began
    // The first address of the block a failed write stopped at.
    std::optional<long> writeStoppedAt;
    Firmware firmware; // what it wrote, or was to write
    // Why it failed or stopped, as codes with their data, for the front ends to word.
    Finding finding;
};

// One whole Start run on one port, in the calling thread: its own Session (and so its own port
// and reply window), the progress and trace it produces, and the report at its end.
class Run {
public:
    struct Setup {
        QString port; // as given, for the report
        int comPort = 1;
        PortBindings bindings;
        // What is wrong with a port as the user gave it, for the front end to word.
        enum class PortFault { None, Empty, ComOutOfRange };
        // The port as the user gave it: "COM3" (any case) is that COM number, bound as given
        // says; anything else is a device, run as COM1 bound to it, as a menu item resolves.
        // Every front end turns its port texts into runs here. A fault leaves the setup as it was.
        PortFault setPort(const QString& text, const PortBindings& given,
                          int lastCom = PortMap::kLastComNumber);
        bool trace = false;
        bool traceFull = false;
        // What to write, loaded and checked once for every run; the built-in firmware when empty.
        Firmware firmware;
        bool allowTestFirmware = false;
        // The reply window; the radio's 5000 ms when zero.
        std::chrono::milliseconds replyWindow{0};
        Firmware firmwareToWrite() const
        {
            return firmware.isNull() ? Firmware::builtIn() : firmware;
        }
    };
    // Called in the run's thread.
    struct Events {
        std::function<void(Step step, const QString& detail)> step;
        std::function<void(int blocks)> writeBegins;
        std::function<void(double seconds)> blockWritten; // since the write began
        std::function<void(const QString& lines)> trace;
        // An attempt's window ran out with no reply made out: the radio may be gone, or slow.
        // The step tries again as long as it has attempts; the run's end says what came of it.
        std::function<void(Step step)> unanswered;
        // The first row of each block, skipped ones included, as the write reaches it.
        std::function<void(int row)> barValue;
    };

    Run(Setup setup, Events events);
    ~Run();
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    // The whole Start run.
    RunReport exec();
    // The same in the two parts the original window's procedures run: the model query, whose
    // report comes back only when it failed, then the programming sequence that follows an agreed
    // query. exec() is the two in a row.
    std::optional<RunReport> query();
    RunReport programming();

    // The report of a run whose model query the radio on device refused ("RE"), made as a run's
    // own: what a watch's probe found, for a radio it will not write.
    static RunReport regionRefused(const Setup& setup, const QString& device,
                                   const QDateTime& started, double seconds,
                                   std::chrono::milliseconds window);

    // Ends the run at its current step, with the port closed, as stopped by. Only from the run's
    // own thread: the wait in progress is woken through its own event loop.
    void stop(StoppedBy by);
    // The run's port is open (it never is between steps, nor after the run).
    bool portOpen() const;

private:
    struct Going;
    // The finding of a failed run, from how it failed and, when probe, what the system says
    // about its device.
    static void explain(RunReport& report, const Failure& failure, bool probe = true);
    RunReport finish(Outcome outcome);

    Setup m_setup;
    Events m_events;
    std::unique_ptr<Session> m_session;
    std::unique_ptr<Going> m_going;
    StoppedBy m_stoppedBy = StoppedBy::Nobody;
};

// "Ctrl-C", "SIGTERM", "Stop".
QString stopName(StoppedBy by);

// How long the rest of a write takes at its pace so far: done of total blocks written in seconds
// since it began. Nothing until a block has been written.
std::optional<double> secondsLeft(int done, int total, double seconds);
// "0:38", "12:05"
QString minutesSeconds(double seconds);

} // namespace tqb9
