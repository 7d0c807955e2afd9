#pragma once

#include "link/replywindow.h"
#include "link/serialline.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <QByteArray>
#include <QObject>
#include <QString>
#include <span>

namespace tqb9 {

// The conversation with one radio on one device: the port frame around each operation, the
// reply window, the text commands and the packet transmitter. One operation at a time, on one
// thread; every wait runs a nested event loop, so the window stays live and nothing spins.
class Link : public QObject {
    Q_OBJECT
public:
    static inline const QString kLineSettings = QStringLiteral("57600,n,8,1");
    static constexpr qsizetype kPacketSize = 1032;
    static constexpr qsizetype kFirstHalf = 512;
    // The radio echoes every byte, so a packet's reply starts right after its own copy.
    static constexpr qsizetype kPacketReplyAt = kPacketSize;
    static constexpr qsizetype kPacketAwaited = kPacketSize + 4;

    // On a QSerialPort line with the radio's 5000 ms window until told otherwise.
    explicit Link(QObject* parent = nullptr);
    ~Link() override;

    // Between operations only: a test's scripted line and virtual clock, or another port.
    void setLine(std::unique_ptr<SerialLine> line);
    void setWindow(std::unique_ptr<ReplyWindow> window);
    SerialLine& line() { return *m_line; }
    const SerialLine& line() const { return *m_line; }
    ReplyWindow& window() { return *m_window; }

    // The device every operation opens until set again; label names it in errors ("COM3"). A
    // Start run sets it once at its start, so the whole run stays on one radio.
    void setDevice(const QString& device, const QString& label = {});
    QString device() const { return m_device; }

    // Every operation opens the port and closes it again, as the Start run's procedures do. A
    // watch asking the same question every second keeps it open instead, until closePort(), a
    // failure or an abort: opening a port is most of what a question costs, and it toggles the
    // cable's control lines each time.
    void setKeepPortOpen(bool keep) { m_keepPortOpen = keep; }
    void closePort();

    // Model and region query: 0 on "OK", 13 on "RE", 8 on anything else.
    std::int16_t QueryModel();
    // The bytes of the query's own echo: anything received beyond them came from a radio.
    static qsizetype queryEchoSize();
    // Enter flash mode: 3 on "CT", 0 on "OK", 8 on anything else.
    std::int16_t ConnectRadio();

    // One operation in one port frame: the line opened on the device with the line settings,
    // body run, the line closed on every path. Whatever goes wrong inside is noted for
    // lastError() and gives failure.
    std::int16_t inPortFrame(std::int16_t failure, const std::function<std::int16_t()>& body);

    // Inside a frame: sends the 1032 bytes in two halves under one window and collects the echo
    // and the reply. Returns the count collected; the bytes are in bytRxBuf(). Throws
    // SerialError when the line fails.
    std::int16_t SendBlock(QByteArrayView bytPacket);
    const QByteArray& bytRxBuf() const { return m_rxBuf; }

    // Inside a frame: one packet's attempt loop. Sends the packet build() gives (rebuilt before
    // every attempt) until the radio answers with one of accepted, at most limit times; fewer
    // bytes than the echo and a whole reply is a failed attempt, whatever arrived. Returns the
    // accepted code once every reply still owed to an earlier attempt has been waited out, or
    // nothing when the attempts ran out. Throws SerialError when the line fails.
    std::optional<std::int16_t> sendPacket(int limit, std::span<const std::int16_t> accepted,
                                           const std::function<QByteArrayView()>& build);

    // Ends the current wait, and every later one, as a failure (Ctrl-C, the program quitting).
    void abort(const QString& reason);
    void clearAbort() { m_abortReason.clear(); }
    bool aborted() const { return !m_abortReason.isEmpty(); }

    // What went wrong in the last failed operation, for a diagnostic.
    QString lastError() const { return m_lastError; }
    QSerialPort::SerialPortError lastErrorKind() const { return m_lastErrorKind; }
    void clearLastError();

signals:
    void exchanged(const QByteArray& sent, const QByteArray& received, std::int16_t code);
    // abort() was called: wakes the wait in progress.
    void interrupted();

private:
    class PortFrame;
    struct Piece {
        QByteArrayView bytes;
        qint64 awaited; // bytes collected in all once this piece's echo (and reply) are in
    };
    using Recogniser = std::int16_t (*)(QByteArrayView, qsizetype);

    // For a trace: one exchange (text command or packet attempt) with its recognised reply.
    void reportExchange(QByteArrayView sent, QByteArrayView received, std::int16_t code);
    // Before moving on to the next block or step: a packet attempt whose reply did not come in
    // its window still owes one, and it would be read as the next packet's answer. While any is
    // owed, waits until two windows have passed since the last attempt was sent and drops
    // whatever comes. Costs nothing when every attempt was answered.
    void settleOwedReplies();

    std::int16_t textExchange(const QByteArray& command, qsizetype awaited, Recogniser recognise);
    // The one exchange primitive: sends each piece, then takes the input once at least its
    // awaited count is in, all under one window. Returns the count taken that way; bytRxBuf()
    // also holds whatever else had arrived when it returns.
    qint64 exchange(std::initializer_list<Piece> pieces);
    // Returns when at least count bytes wait, or the window has closed. Throws on a failed line
    // or an abort.
    void waitFor(qint64 count);
    // How long the line takes to carry bytes.
    std::chrono::microseconds lineTime(qint64 bytes) const;
    void openWindow(std::chrono::milliseconds span);
    void throwIfFailed() const;
    void noteError(const std::exception& error);

    std::unique_ptr<SerialLine> m_line;
    std::unique_ptr<ReplyWindow> m_window;
    QString m_device;
    QString m_label;
    bool m_keepPortOpen = false;
    QByteArray m_rxBuf;
    QString m_abortReason;
    QString m_lastError;
    QSerialPort::SerialPortError m_lastErrorKind = QSerialPort::NoError;

    // Packet attempts of the current block or step, and the replies seen for them.
    int m_attemptsSent = 0;
    int m_repliesSeen = 0;
    std::chrono::milliseconds m_lastSentAt{0};
    // When the open window closes, on its clock.
    std::chrono::milliseconds m_windowEnds{0};
    double m_bytesPerSecond = 0;
    // Ends a wait's hold on input shortly before the line can have carried everything awaited; on
    // the window's clock.
    std::unique_ptr<ReplyWindow> m_holdOff;
};

} // namespace tqb9
