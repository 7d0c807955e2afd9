#pragma once

#include "link/replywindow.h"

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <QObject>
#include <QTimer>
#include <utility>

namespace tqb9::testing {

// Time that passes only from one scripted event to the next. Whenever an event loop turns (the
// link waiting for the radio), the earliest event runs and the clock jumps to its time, so a
// 5000 ms window passes at once, and events at the same time run in the order scheduled: the
// same run on any machine, under any load.
class VirtualClock : public QObject {
    Q_OBJECT
public:
    using Action = std::function<void()>;

    VirtualClock();

    std::chrono::milliseconds now() const { return m_now; }
    // Runs action delay after now(); returns an id for cancel().
    quint64 schedule(std::chrono::milliseconds delay, Action action);
    void cancel(quint64 id);
    // Runs every event left, in order: the replies a run left on their way arrive.
    void runAll();

private:
    void runNext();
    void arm();

    std::chrono::milliseconds m_now{0};
    quint64 m_next = 0;
    // By time, then by the order of scheduling.
    std::map<std::pair<std::chrono::milliseconds, quint64>, Action> m_events;
    QTimer m_turn;
};

// The link's reply window on a virtual clock.
class VirtualWindow : public ReplyWindow {
    Q_OBJECT
public:
    explicit VirtualWindow(VirtualClock& clock,
                           std::chrono::milliseconds length = PreciseWindow::kRadioWindow)
        : m_clock(clock), m_length(length)
    {}

    std::chrono::milliseconds length() const override { return m_length; }
    void open(std::chrono::milliseconds span) override;
    void close() override;
    bool isOpen() const override { return m_open; }
    std::chrono::milliseconds now() const override { return m_clock.now(); }
    std::unique_ptr<ReplyWindow> another() const override
    {
        return std::make_unique<VirtualWindow>(m_clock, m_length);
    }

private:
    VirtualClock& m_clock;
    std::chrono::milliseconds m_length;
    bool m_open = false;
    quint64 m_expiry = 0;
};

} // namespace tqb9::testing
