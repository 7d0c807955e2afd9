#pragma once

#include "sim/frameclock.h"

#include <chrono>
#include <functional>
#include <memory>
#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>

class QSocketNotifier;

namespace tqb9::sim {

class Pty;

// 57600 bit/s with a start bit, 8 data bits and a stop bit per byte.
inline constexpr qint64 kLineBytesPerSecond = 5760;

// A burst of bytes on the line at its rate, reckoned from the burst's start so that lateness in
// handing them on never adds up. Arithmetic only: the pseudo-terminal's delivery and the tests'
// scripted line keep the same pace with it.
struct LinePace {
    std::chrono::nanoseconds start{0};
    qint64 handedOn = 0;

    // The line has been idle: a new burst starts at now, not where the last one ended.
    void restart(std::chrono::nanoseconds now)
    {
        start = now;
        handedOn = 0;
    }
    // Bytes the line has carried by at and that have not been handed on yet; 0 or less when the
    // next one is still on its way.
    qint64 due(std::chrono::nanoseconds at) const
    {
        return (at - start).count() * kLineBytesPerSecond / std::nano::den - handedOn;
    }
    // When the next byte's last bit has left the wire.
    std::chrono::nanoseconds nextAt() const
    {
        return start + std::chrono::nanoseconds(
                           ((handedOn + 1) * std::nano::den + kLineBytesPerSecond - 1) /
                           kLineBytesPerSecond);
    }
};

// How the radio's echo and replies reach the program through the pseudo-terminal: at once, paced
// to the line rate, in the 1 ms frames of a USB serial adapter, or each write on its own.
class Delivery : public QObject {
    Q_OBJECT
public:
    // A full-speed USB device is polled once per 1 ms frame. An FTDI adapter's bulk packets are
    // 64 bytes, two of them its modem status, so 62 received bytes make a packet that need not
    // wait.
    static constexpr std::chrono::milliseconds kUsbFrame{1};
    static constexpr qsizetype kUsbPacketPayload = 62;

    explicit Delivery(QObject* parent = nullptr);
    ~Delivery() override;

    // Hands bytes to pty from now on, until stop(), which must come before the pty closes.
    void start(Pty* pty);
    // Whatever waits is dropped, and nobody waits for a drain any more.
    void stop();

    void setPacing(bool on);
    bool pacing() const { return m_pacing; }
    void setUsbLatency(std::chrono::milliseconds latency);
    std::chrono::milliseconds usbLatency() const { return m_usbLatency; }
    void setSeparateWrites(bool on) { m_separateWrites = on; }
    bool separateWrites() const { return m_separateWrites; }

    // Between hold() and release() sent bytes gather for one write, unless writes are separate.
    void hold() { m_holding = true; }
    void release();
    void send(QByteArrayView bytes);
    // Whatever has not reached the program yet is lost, as when a radio is pulled off its cable.
    void drop();
    void whenDrained(std::function<void()> action);

signals:
    // The pty refused a write for good.
    void failed();

private:
    struct DrainWaiter {
        qint64 deadlineNs;
        std::function<void()> action;
    };

    bool isRunning() const;
    void pump();
    void onUsbFrame();
    void checkDrained();
    void waitUntilWritable();

    Pty* m_pty = nullptr;
    std::unique_ptr<QSocketNotifier> m_writeNotifier;

    // Echo and replies wait here until the pty (and, when pacing, the line) takes them.
    QByteArray m_out;
    bool m_pacing = false;
    bool m_holding = false;
    bool m_separateWrites = false;
    QElapsedTimer m_clock;
    LinePace m_pace;
    qint64 m_lastWriteNs = 0;
    QTimer m_paceTimer;
    // USB delivery: bytes the line has carried wait in the adapter until a frame hands them over.
    std::chrono::milliseconds m_usbLatency{0};
    QByteArray m_adapter;
    qint64 m_adapterSinceNs = 0;
    FrameClock m_usbFrame;
    QTimer m_drainTimer;
    QList<DrainWaiter> m_drainWaiters;
};

} // namespace tqb9::sim
