#pragma once

#include <memory>
#include <QObject>

class QSocketNotifier;
class QTimer;

namespace tqb9::sim {

// The 1 ms frames of a full-speed USB bus: ticks on a fixed grid of the monotonic clock, running
// whether anyone listens or not, so a burst waits for the next frame as it would on a real bus.
// QTimer cannot do this: it schedules each repeat from the moment the last one was handled, and
// its ticks drift a tenth of a millisecond a frame. On Linux a timerfd keeps the grid; elsewhere
// the QTimer is what there is.
class FrameClock : public QObject {
    Q_OBJECT
public:
    explicit FrameClock(QObject* parent = nullptr);
    ~FrameClock() override;

    // Ticks are only delivered while running; the grid stays where it was.
    void setRunning(bool running);
    bool isRunning() const { return m_running; }

signals:
    void tick();

private:
    void onReadable();
    quint64 framesPassed();

    int m_fd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QTimer* m_fallback = nullptr;
    bool m_running = false;
};

} // namespace tqb9::sim
