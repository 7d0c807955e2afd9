#pragma once

#include "run/run.h"

#include <memory>
#include <optional>
#include <QList>
#include <QObject>
#include <QString>
#include <variant>
#include <vector>

namespace tqb9 {

// Several radios at once: one whole Start run per port. One radio is a station of one.
//
// Every wait for a radio is a nested event loop, so runs sharing one thread would nest their
// loops and a silent radio would hold the others' returns until its window closed. Each run
// therefore has a thread of its own, with its own Session, port, reply window and event loop,
// and everything it reports is posted back to the thread this object lives on, where its
// signals are emitted. A station of one runs its radio on that thread, in its event loop.
class Station : public QObject {
    Q_OBJECT
public:
    // Two of the ports given are one: port, as given, is the same as sameAs, given before it;
    // device is what port leads to, when that is not port itself.
    struct SamePort {
        QString port;
        QString sameAs;
        QString device;
    };
    // Each COM number is looked up once, here, so every run keeps to the device it began on, and
    // two names for one port (a COM number twice, a device and a link to it) are caught before
    // either is opened. Returns the setups bound to their devices, or the two that are one.
    static std::variant<QList<Run::Setup>, SamePort> resolve(QList<Run::Setup> setups);

    explicit Station(QList<Run::Setup> setups, QObject* parent = nullptr);
    ~Station() override;

    int size() const { return static_cast<int>(m_slots.size()); }
    const Run::Setup& setup(int index) const;
    // Starts every run; finished() follows once all have ended.
    void start();
    // Ends every run at its current step, cleanly, as stopped by the signal (Ctrl-C, SIGTERM).
    void abort(int signalNumber);
    bool isRunning() const { return m_running > 0; }
    // A run's report once it has ended.
    const std::optional<RunReport>& report(int index) const;

signals:
    void stepStarted(int index, tqb9::Step step, const QString& detail);
    void writeBegins(int index, int blocks);
    void blockWritten(int index, double seconds);
    void traced(int index, const QString& lines);
    void runFinished(int index, const tqb9::RunReport& report);
    void finished();

private:
    struct Slot;
    std::vector<std::unique_ptr<Slot>> m_slots;
    int m_running = 0;
};

} // namespace tqb9
