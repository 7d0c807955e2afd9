#include "support/virtualclock.h"

namespace tqb9::testing {

VirtualClock::VirtualClock()
{
    m_turn.setSingleShot(true);
    m_turn.setInterval(0);
    connect(&m_turn, &QTimer::timeout, this, &VirtualClock::runNext);
}

quint64 VirtualClock::schedule(std::chrono::milliseconds delay, Action action)
{
    const quint64 id = ++m_next;
    m_events.emplace(std::make_pair(m_now + std::max(delay, std::chrono::milliseconds{0}), id),
                     std::move(action));
    arm();
    return id;
}

void VirtualClock::cancel(quint64 id)
{
    std::erase_if(m_events, [id](const auto& event) { return event.first.second == id; });
}

void VirtualClock::arm()
{
    if (!m_events.empty() && !m_turn.isActive())
        m_turn.start();
}

// One event per turn of the event loop, so whoever waits sees each one at its own time.
void VirtualClock::runNext()
{
    if (m_events.empty())
        return;
    auto first = m_events.begin();
    m_now = first->first.first;
    const Action action = std::move(first->second);
    m_events.erase(first);
    action();
    arm();
}

void VirtualClock::runAll()
{
    while (!m_events.empty())
        runNext();
    m_turn.stop();
}

void VirtualWindow::open(std::chrono::milliseconds span)
{
    close();
    m_open = true;
    m_expiry = m_clock.schedule(span, [this] {
        m_open = false;
        emit expired();
    });
}

void VirtualWindow::close()
{
    if (m_open)
        m_clock.cancel(m_expiry);
    m_open = false;
}

} // namespace tqb9::testing
