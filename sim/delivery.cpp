#include "sim/delivery.h"

#include "sim/pty.h"

#include <algorithm>
#include <cerrno>
#include <QSocketNotifier>

namespace tqb9::sim {

namespace {

// Pacing releases a byte within half a millisecond either side of the moment its last bit would
// leave the wire, so the whole run neither gains nor loses a millisecond per burst.
constexpr qint64 kPaceSlackNs = 500'000;
// Bytes written to the master reach the slave's read queue a moment later, from a kernel worker;
// until then the slave's count of unread bytes still reads 0.
constexpr qint64 kSettleNs = 2'000'000;
constexpr std::chrono::milliseconds kDrainPoll{2};
// A program that closed its port never reads what is left; hang up or end anyway.
constexpr qint64 kDrainLimitNs = 1'000'000'000;

} // namespace

Delivery::Delivery(QObject* parent) : QObject(parent)
{
    m_paceTimer.setSingleShot(true);
    m_paceTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_paceTimer, &QTimer::timeout, this, &Delivery::pump);
    connect(&m_usbFrame, &FrameClock::tick, this, &Delivery::onUsbFrame);
    m_drainTimer.setInterval(kDrainPoll);
    m_drainTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_drainTimer, &QTimer::timeout, this, &Delivery::checkDrained);
}

Delivery::~Delivery() = default;

void Delivery::start(Pty* pty)
{
    m_pty = pty;
    m_writeNotifier = std::make_unique<QSocketNotifier>(m_pty->masterFd(), QSocketNotifier::Write);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier.get(), &QSocketNotifier::activated, this, [this] {
        m_writeNotifier->setEnabled(false);
        pump();
    });
    m_clock.start();
}

void Delivery::stop()
{
    // The notifier must go before its descriptor closes.
    m_writeNotifier.reset();
    m_paceTimer.stop();
    m_usbFrame.setRunning(false);
    m_drainTimer.stop();
    m_drainWaiters.clear();
    m_out.clear();
    m_adapter.clear();
    m_pty = nullptr;
}

bool Delivery::isRunning() const
{
    return m_pty && m_pty->isOpen();
}

void Delivery::setPacing(bool on)
{
    m_pacing = on;
    if (!on)
        m_paceTimer.stop();
    m_pace.restart(std::chrono::nanoseconds(m_clock.isValid() ? m_clock.nsecsElapsed() : 0));
    pump();
}

void Delivery::setUsbLatency(std::chrono::milliseconds latency)
{
    m_usbLatency = std::max(latency, std::chrono::milliseconds{0});
    if (m_usbLatency.count() == 0) {
        m_usbFrame.setRunning(false);
        m_out.prepend(m_adapter);
        m_adapter.clear();
    }
    pump();
}

void Delivery::release()
{
    m_holding = false;
    pump();
}

void Delivery::send(QByteArrayView bytes)
{
    if (bytes.isEmpty() || !isRunning())
        return;
    if (m_out.isEmpty())
        m_pace.restart(std::chrono::nanoseconds(m_clock.nsecsElapsed()));
    m_out += bytes;
    if (!m_holding || m_separateWrites)
        pump();
}

void Delivery::drop()
{
    m_out.clear();
    m_adapter.clear();
    m_paceTimer.stop();
}

void Delivery::waitUntilWritable()
{
    m_writeNotifier->setEnabled(true);
}

// Hands queued bytes to the pty. Paced, byte k of a burst leaves when its tenth bit would have
// left the wire, counted from the burst's start so timer lateness never adds up.
void Delivery::pump()
{
    if (m_usbLatency.count() > 0) {
        if ((!m_out.isEmpty() || !m_adapter.isEmpty()) && isRunning() && !m_usbFrame.isRunning())
            m_usbFrame.setRunning(true);
        return;
    }
    while (isRunning() && !m_out.isEmpty()) {
        const qint64 now = m_clock.nsecsElapsed();
        qint64 allowed = m_out.size();
        if (m_pacing) {
            const qint64 due = m_pace.due(std::chrono::nanoseconds(now + kPaceSlackNs));
            if (due <= 0) {
                const qint64 nextNs = m_pace.nextAt().count() - kPaceSlackNs;
                const qint64 waitMs = std::max<qint64>(1, (nextNs - now + 999'999) / 1'000'000);
                m_paceTimer.start(std::chrono::milliseconds(waitMs));
                return;
            }
            allowed = std::min(allowed, due);
        }
        const qint64 n = m_pty->write(m_out.constData(), allowed);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                waitUntilWritable();
                return;
            }
            emit failed();
            return;
        }
        m_out.remove(0, n);
        m_pace.handedOn += n;
        m_lastWriteNs = now;
        if (n < allowed) {
            // The slave's queue is full: the program is not reading. Wait until it does.
            waitUntilWritable();
            return;
        }
    }
}

// One USB frame: the line hands the adapter what it has carried since the last frame, and the
// adapter hands the program a packet once it is full or its latency has run out. A byte is only
// seen at the frame after it arrived, so a latency of one frame hands everything over at once.
void Delivery::onUsbFrame()
{
    if (!isRunning()) {
        m_usbFrame.setRunning(false);
        return;
    }
    const qint64 now = m_clock.nsecsElapsed();
    qint64 carried = m_out.size();
    if (m_pacing) {
        carried = std::clamp<qint64>(m_pace.due(std::chrono::nanoseconds(now)), 0, m_out.size());
    }
    if (carried > 0) {
        if (m_adapter.isEmpty())
            m_adapterSinceNs = now;
        m_adapter += QByteArrayView(m_out).first(carried);
        m_out.remove(0, carried);
        m_pace.handedOn += carried;
    }
    const qint64 latencyNs = std::chrono::nanoseconds(m_usbLatency - kUsbFrame).count();
    if (!m_adapter.isEmpty() &&
        (m_adapter.size() >= kUsbPacketPayload || now - m_adapterSinceNs >= latencyNs)) {
        const qint64 n = m_pty->write(m_adapter.constData(), m_adapter.size());
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            emit failed();
            return;
        }
        if (n > 0) {
            m_adapter.remove(0, n);
            m_adapterSinceNs = now;
            m_lastWriteNs = now;
        }
        if (!m_adapter.isEmpty()) {
            // The program is not reading: no frames until the pty takes bytes again.
            m_usbFrame.setRunning(false);
            waitUntilWritable();
            return;
        }
    }
    if (m_out.isEmpty() && m_adapter.isEmpty())
        m_usbFrame.setRunning(false);
}

// The pty has no event for "the other side has read everything", so this looks every few
// milliseconds, and only while someone waits for it.
void Delivery::whenDrained(std::function<void()> action)
{
    if (!isRunning())
        return;
    m_drainWaiters.append(DrainWaiter{m_clock.nsecsElapsed() + kDrainLimitNs, std::move(action)});
    if (!m_drainTimer.isActive())
        m_drainTimer.start();
}

void Delivery::checkDrained()
{
    const qint64 now = m_clock.nsecsElapsed();
    const bool drained = isRunning() && m_out.isEmpty() && m_adapter.isEmpty() &&
                         now - m_lastWriteNs >= kSettleNs && m_pty->unread() == 0;
    QList<std::function<void()>> ready;
    for (auto it = m_drainWaiters.begin(); it != m_drainWaiters.end();) {
        if (drained || now >= it->deadlineNs) {
            ready.append(std::move(it->action));
            it = m_drainWaiters.erase(it);
        } else {
            ++it;
        }
    }
    if (m_drainWaiters.isEmpty())
        m_drainTimer.stop();
    for (const auto& action : ready) {
        if (!isRunning())
            return;
        action();
    }
}

} // namespace tqb9::sim
