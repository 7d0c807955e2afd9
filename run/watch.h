#pragma once

#include "run/run.h"

#include <chrono>
#include <memory>
#include <QObject>

namespace tqb9 {

// One port of a station, hands-free or by hand. By hand, start() runs one whole Start run. With
// automatic on, an idle port asks the model and region question now and then with a short window;
// when a radio of this model and region answers it runs the whole Start run unchanged, then waits
// until that radio has stopped answering before it waits for the next one, so no radio is written
// twice by accident. Automatic writes only a radio that arrives: one that answers the first
// question after automatic is switched on was there already, and is held as one just written is.
// start() is the only way to write a radio that has not arrived.
//
// Its probes and runs happen on a thread of its own; its signals are emitted on the thread it
// lives on.
class PortWatch : public QObject {
    Q_OBJECT
public:
    enum class State {
        Idle,     // nothing going on
        Waiting,  // automatic: asking for a radio
        Writing,  // a Start run is going
        Held,     // automatic: a run ended (or a radio of another region answered), or a radio
                  // was on the cable when automatic was switched on; waiting for that radio to go
        Vanished, // automatic: the port is not there; asked again until it comes back
    };

    struct Timing {
        std::chrono::milliseconds probeEvery{1000};
        std::chrono::milliseconds probeWindow{300};
        // A radio that has not answered for this long has been removed.
        std::chrono::milliseconds goneAfter{2000};
    };

    explicit PortWatch(Run::Setup setup, QObject* parent = nullptr);
    PortWatch(Run::Setup setup, Timing timing, QObject* parent = nullptr);
    ~PortWatch() override;

    const Run::Setup& setup() const;
    const Timing& timing() const;
    State state() const;

    // By hand: one whole Start run now, if none is going.
    void start();
    // Ends a run at its current step, cleanly, as stopped by; stops automatic too.
    void stop(StoppedBy by = StoppedBy::Operator);
    void setAutomatic(bool on);
    bool automatic() const;
    // Writing, waiting with automatic on, or asked to start: about to use its firmware. Known at
    // once on this thread, before the port's thread has said so.
    bool busy() const;

signals:
    void stateChanged(tqb9::PortWatch::State state);
    void stepStarted(tqb9::Step step, const QString& detail);
    void writeBegins(int blocks);
    void blockWritten(double seconds); // since the write began
    // An attempt got no reply in its window; the run goes on trying while it may.
    void unanswered(tqb9::Step step);
    void traced(const QString& lines);
    // After every run, and once for a radio of another region found while waiting (its outcome
    // RegionError, nothing written).
    void runFinished(const tqb9::RunReport& report);
    // After stop(): the run or probe that was going has ended (its runFinished came first), and
    // nothing more happens until asked.
    void stopped();

private:
    friend class Watcher;
    void setStateFromWatcher(State state);
    void automaticOffFromWatcher();
    void runFinishedFromWatcher(const RunReport& report);

    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace tqb9
