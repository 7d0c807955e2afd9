#include "sim/frameclock.h"

#include <QSocketNotifier>
#include <QTimer>

#ifdef Q_OS_LINUX
#include <sys/timerfd.h>
#include <unistd.h>
#endif

namespace tqb9::sim {

FrameClock::FrameClock(QObject* parent) : QObject(parent)
{
#ifdef Q_OS_LINUX
    m_fd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    itimerspec frames{};
    frames.it_interval.tv_nsec = 1'000'000;
    frames.it_value.tv_nsec = 1'000'000;
    if (m_fd >= 0 && ::timerfd_settime(m_fd, 0, &frames, nullptr) == 0) {
        m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
        m_notifier->setEnabled(false);
        connect(m_notifier.get(), &QSocketNotifier::activated, this, &FrameClock::onReadable);
        return;
    }
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
#endif
    m_fallback = new QTimer(this);
    m_fallback->setInterval(1);
    m_fallback->setTimerType(Qt::PreciseTimer);
    connect(m_fallback, &QTimer::timeout, this, &FrameClock::tick);
}

FrameClock::~FrameClock()
{
    m_notifier.reset();
#ifdef Q_OS_LINUX
    if (m_fd >= 0)
        ::close(m_fd);
#endif
}

void FrameClock::setRunning(bool running)
{
    if (running == m_running)
        return;
    m_running = running;
    if (m_fallback) {
        if (running)
            m_fallback->start();
        else
            m_fallback->stop();
        return;
    }
    // Frames that passed while nobody listened are not owed.
    if (running)
        framesPassed();
    m_notifier->setEnabled(running);
}

quint64 FrameClock::framesPassed()
{
    quint64 frames = 0;
#ifdef Q_OS_LINUX
    if (::read(m_fd, &frames, sizeof frames) != sizeof frames)
        frames = 0;
#endif
    return frames;
}

void FrameClock::onReadable()
{
    if (framesPassed() > 0 && m_running)
        emit tick();
}

} // namespace tqb9::sim
