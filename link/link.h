#pragma once

#include "link/serialcontrol.h"

#include <chrono>
#include <cstdint>
#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

namespace tqb9 {

class PortMap;
class PortMenu;

// The conversation with the radio: line settings, opening the checked port, the one-shot reply
// window, the text commands and the packet transmitter. One operation at a time, on one thread;
// every wait runs a nested event loop, so the window stays live and nothing spins.
class Link : public QObject {
    Q_OBJECT
public:
    static inline const QString kLineSettings = QStringLiteral("57600,n,8,1");
    static constexpr std::chrono::milliseconds kDefaultInterval{5000};
    static constexpr qsizetype kPacketSize = 1032;
    static constexpr qsizetype kFirstHalf = 512;
    static constexpr qsizetype kSecondHalf = kPacketSize - kFirstHalf;
    // The radio echoes every byte, so a packet's reply starts right after its own copy.
    static constexpr qsizetype kPacketReplyAt = kPacketSize;
    static constexpr qsizetype kPacketAwaited = kPacketSize + 4;

    Link(const PortMenu& menu, const PortMap& ports, QObject* parent = nullptr);

    SerialControl& MSComm1() { return m_comm; }
    const SerialControl& MSComm1() const { return m_comm; }

    // The reply window. Tests shorten it; the radio's own pace needs the 5000 ms.
    void setInterval(std::chrono::milliseconds interval) { m_timer1.setInterval(interval); }
    std::chrono::milliseconds interval() const { return m_timer1.intervalAsDuration(); }
    bool timer1Enabled() const { return m_timer1.isActive(); }

    // Model and region query: 0 on "OK", 13 on "RE", 8 on anything else.
    std::int16_t QueryModel();
    // Enter flash mode: 3 on "CT", 0 on "OK", 8 on anything else.
    std::int16_t ConnectRadio();

    // Sends the 1032 bytes in two halves under one window and collects the echo and the reply.
    // Returns the count collected; the bytes are in bytRxBuf(). Neither opens nor closes the
    // port, and lets SerialError through to the flash operation that called it.
    std::int16_t SendBlock(QByteArrayView bytPacket);
    const QByteArray& bytRxBuf() const { return m_rxBuf; }

    // The port frame every operation shares.
    void applySettings();
    void openIfClosed();
    void closeIfOpen() noexcept;

    // Ends the current wait, and every later one, as a failure (Ctrl-C, the program quitting).
    void abort(const QString& reason);
    void clearAbort() { m_abortReason.clear(); }
    bool aborted() const { return !m_abortReason.isEmpty(); }

    // What went wrong in the last failed operation, for a diagnostic.
    QString lastError() const { return m_lastError; }
    QSerialPort::SerialPortError lastErrorKind() const { return m_lastErrorKind; }
    void noteError(const std::exception& error);
    void clearLastError();

    // For a trace: one exchange (text command or packet attempt) with its recognised reply.
    void reportExchange(QByteArrayView sent, QByteArrayView received, std::int16_t code);

signals:
    void exchanged(const QByteArray& sent, const QByteArray& received, std::int16_t code);
    // abort() was called: wakes the wait in progress.
    void interrupted();

private:
    using Recogniser = std::int16_t (*)(QByteArrayView, qsizetype);
    std::int16_t textExchange(const QByteArray& command, qsizetype awaited, Recogniser recognise);
    // Returns when at least count bytes wait, or the window has closed. Throws on a port failure
    // or an abort.
    void waitFor(qint64 count);
    void Timer1_Timer();

    const PortMenu& m_menu;
    SerialControl m_comm;
    QTimer m_timer1;
    QByteArray m_rxBuf;
    QString m_abortReason;
    QString m_lastError;
    QSerialPort::SerialPortError m_lastErrorKind = QSerialPort::NoError;
};

} // namespace tqb9
