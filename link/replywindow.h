#pragma once

#include <chrono>
#include <memory>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

namespace tqb9 {

// The one-shot reply window of the link and the clock it is measured on. The programs use
// PreciseWindow; tests put a virtual clock behind the same interface, so a window of the real
// length passes in no time and in the same order on any machine. The link's shorter waits inside
// a window run on the same clock, so a test sees them at their exact times too.
class ReplyWindow : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // How long the radio is given to answer.
    virtual std::chrono::milliseconds length() const = 0;
    // Opens the window for span, restarting it if it is open.
    virtual void open(std::chrono::milliseconds span) = 0;
    void open() { open(length()); }
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // Monotonic time on the window's clock.
    virtual std::chrono::milliseconds now() const = 0;
    // The same, as finely as the clock tells it: a byte's time on the line is a fraction of a
    // millisecond.
    virtual std::chrono::nanoseconds preciseNow() const { return now(); }
    // Another one-shot timer on this clock, its length the same.
    virtual std::unique_ptr<ReplyWindow> another() const = 0;

signals:
    // The window ran out.
    void expired();
};

class PreciseWindow : public ReplyWindow {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kRadioWindow{5000};

    explicit PreciseWindow(std::chrono::milliseconds length = kRadioWindow,
                           QObject* parent = nullptr);

    std::chrono::milliseconds length() const override { return m_length; }
    void open(std::chrono::milliseconds span) override;
    void close() override { m_timer.stop(); }
    bool isOpen() const override { return m_timer.isActive(); }
    std::chrono::milliseconds now() const override;
    std::chrono::nanoseconds preciseNow() const override;
    std::unique_ptr<ReplyWindow> another() const override
    {
        return std::make_unique<PreciseWindow>(m_length);
    }

private:
    std::chrono::milliseconds m_length;
    QTimer m_timer;
    QElapsedTimer m_clock;
};

} // namespace tqb9
