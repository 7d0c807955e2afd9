#pragma once

#include <QObject>
#include <QSocketNotifier>

namespace tqb9::cli {

// Turns SIGINT and SIGTERM into a Qt signal. The handler only writes the signal number into a
// pipe (the one thing a handler may safely do); the event loop of the wait in progress reads it,
// so the run is stopped from ordinary code with the port closed on the usual path. A second
// signal while the first is still being handled ends the program at once.
class InterruptNotifier : public QObject {
    Q_OBJECT
public:
    explicit InterruptNotifier(QObject* parent = nullptr);
    ~InterruptNotifier() override;

    InterruptNotifier(const InterruptNotifier&) = delete;
    InterruptNotifier& operator=(const InterruptNotifier&) = delete;

    bool installed() const { return m_notifier != nullptr; }
    // The first signal received, or 0.
    int signalNumber() const { return m_signal; }

signals:
    void interrupted(int signalNumber);

private:
    void readPipe();

    QSocketNotifier* m_notifier = nullptr;
    int m_signal = 0;
};

} // namespace tqb9::cli
