#include "link/replywindow.h"

namespace tqb9 {

PreciseWindow::PreciseWindow(std::chrono::milliseconds length, QObject* parent)
    : ReplyWindow(parent), m_length(length)
{
    // The default coarse timer may fire up to 5% early; the radio is promised the full window.
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &ReplyWindow::expired);
    m_clock.start();
}

void PreciseWindow::open(std::chrono::milliseconds span)
{
    m_timer.start(span);
}

std::chrono::milliseconds PreciseWindow::now() const
{
    return std::chrono::milliseconds{m_clock.elapsed()};
}

std::chrono::nanoseconds PreciseWindow::preciseNow() const
{
    return std::chrono::nanoseconds{m_clock.nsecsElapsed()};
}

} // namespace tqb9
