#pragma once

#include <QObject>

class QSocketNotifier;

namespace tqb9::cli {

// The first thing main() does, before anything else can happen. A reader of standard output or
// standard error that goes away (SIGPIPE) and a hang-up (SIGHUP, an SSH session dropping) no
// longer end the program: a run goes on to its end, so the radio is never left half-written
// for such a reason. Ctrl-C and SIGTERM are remembered from this moment on and reach the
// InterruptNotifier once one exists, so even a signal in the first milliseconds stops cleanly.
void installSignalHandling();

// Turns Ctrl-C and SIGTERM into a Qt signal. The handler only hands the signal number to the
// event loop; the wait in progress wakes and the run stops from ordinary code, with the port
// closed on the usual path. A second signal while the first is still being handled ends the
// program at once.
class InterruptNotifier : public QObject {
    Q_OBJECT
public:
    explicit InterruptNotifier(QObject* parent = nullptr);
    ~InterruptNotifier() override;

    InterruptNotifier(const InterruptNotifier&) = delete;
    InterruptNotifier& operator=(const InterruptNotifier&) = delete;

    // The first signal received, or 0.
    int signalNumber() const { return m_signal; }

signals:
    void interrupted(int signalNumber);

private:
    void deliver(int signalNumber);
    // Invokable: on Windows the console's thread reaches it through a queued call.
    Q_INVOKABLE void readPipe();

    QSocketNotifier* m_notifier = nullptr;
    int m_signal = 0;
};

} // namespace tqb9::cli
