#pragma once

#include "sim/delivery.h"
#include "sim/flashmodel.h"
#include "sim/requestframer.h"
#include "sim/scriptedresponse.h"
#include "sim/transport.h"
#include "sim/wiretransport.h"

#include <chrono>
#include <memory>
#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

namespace tqb9::sim {

// One request handled, for the log.
struct Exchange {
    Request request{};
    QByteArray reply{}; // what followed the echo: garbage and reply, as sent
    bool echoed = true;
    std::chrono::milliseconds delay{0};
    bool hungUp = false;
    LineSettings line{}; // as the request's first byte arrived
    bool sent = false;   // false while a delayed reply is still pending
};

// A simulated TQ-B9 radio on the master side of a pseudo-terminal. The program under test opens
// devicePath() with QSerialPort. Everything runs on the caller's thread from the Qt event loop:
// socket notifiers for the pty, timers for delays and pacing.
//
// The radio echoes every byte (the cable does), answers "ZK~TQ-B9E" with a framed "OK",
// "ZK~FLASH" with "CT" and flash mode, and in flash mode takes 1032-byte erase, program and end
// packets, answering "BE", "OK" and "ED", or "NG" to a damaged packet.
class SimRadio : public QObject {
    Q_OBJECT
public:
    explicit SimRadio(QObject* parent = nullptr);
    ~SimRadio() override;

    // Opens the pty pair and starts listening. False with a reason when the system refuses.
    bool start(QString* error = nullptr);

    // In-process instead of a pty, for a scripted serial line in tests: the program's bytes come
    // through receive(), the radio's go to toProgram, and delays are measured by after() on
    // whatever clock the line keeps. No pacing.
    using Wire = sim::Wire;
    void attach(Wire wire);
    void detach() { m_transport.reset(); }
    // The slave device the program opens, e.g. "/dev/pts/5"; empty before start().
    QString devicePath() const { return m_devicePath; }
    // Started and not hung up.
    bool isRunning() const { return m_transport && m_transport->isOpen(); }
    // Closes the pty at once: the device vanishes and the program's port fails.
    void hangUp();
    // Bytes from the program handed over in-process, as if the pty had just delivered them. The
    // fuzz target needs to know that every byte has been taken; the pty cannot tell it.
    void receive(QByteArrayView bytes) { take(bytes); }

    void setScript(Script script) { m_response.setScript(std::move(script)); }
    // Sends echo and replies no faster than the real line, kLineBytesPerSecond.
    void setPacing(bool on) { m_delivery.setPacing(on); }
    bool pacing() const { return m_delivery.pacing(); }
    // Hands echo and replies to the program the way a USB serial adapter does: only at its 1 ms
    // frames, each time a full USB packet's worth has gathered or the oldest byte held has waited
    // the adapter's latency (1 ms: every frame; an FTDI chip's default is 16 ms). 0 turns it off,
    // so every byte is handed over as soon as the line has carried it.
    void setUsbLatency(std::chrono::milliseconds latency) { m_delivery.setUsbLatency(latency); }
    // Writes each echo and each reply to the pty on its own as soon as it is made, unpaced, as a
    // radio does that echoes what it has read and answers once it has done the work: the program
    // then sees its request's echo and the reply arrive apart, in any interleaving with its waits.
    void setSeparateWrites(bool on) { m_delivery.setSeparateWrites(on); }
    std::chrono::milliseconds usbLatency() const { return m_delivery.usbLatency(); }
    // The radio's own two reply letters for a command: query "OK" (framed; "RE" for a region
    // mismatch), connect "CT", erase "BE", program "OK" (or "PG"), end "ED".
    void setReplyLetters(Command command, const QByteArray& letters)
    {
        m_model.setReplyLetters(command, letters);
    }
    QByteArray replyLetters(Command command) const { return m_model.replyLetters(command); }

    bool inFlashMode() const { return m_model.inFlashMode(); }

    // Takes the radio off its cable or puts one on, while the pseudo-terminal (the adapter)
    // stays. Absent, it hears nothing and answers nothing, echo included, and what it had not
    // sent yet is lost. Each one put on is a new radio: its flash as from the factory, out of
    // flash mode, its log, counts and errors empty. The reply letters and the script stay: they
    // say what kind of radio the line is given.
    void setPresent(bool present);
    bool isPresent() const { return m_present; }
    // Radios put on since start, the first one included: 1 until the first is taken off and
    // another put on.
    int radioNumber() const { return m_radioNumber; }

    // 262,144 bytes, index 0 = 0xC0000. Starts as blankByte(), erased bytes read 0xFF.
    const QByteArray& flash() const { return m_model.flash(); }
    // The content before any erase: never 0xFF, so a missing erase shows.
    static quint8 blankByte(quint32 address) { return FlashModel::blankByte(address); }
    // Start addresses of the 1 KB blocks ever programmed, ascending.
    QList<quint32> writtenBlocks() const { return m_model.writtenBlocks(); }
    // First addresses of the erase blocks erased since start, ascending.
    QList<quint32> erasedBlocks() const { return m_model.erasedBlocks(); }
    // Raw 262,144 bytes, 0xC0000 first.
    bool writeFlash(const QString& path, QString* error = nullptr) const
    {
        return m_model.writeFlash(path, error);
    }

    const QList<Exchange>& log() const { return m_log; }
    // Requests of this command received so far.
    int count(Command command) const { return m_framer.count(command); }
    const QList<Error>& errors() const { return m_model.errors(); }
    int errorCount(ErrorKind kind) const { return m_model.errorCount(kind); }
    // Requests that arrived at other settings than kExpectedLine.
    int wrongLineCount() const { return errorCount(ErrorKind::WrongLineSettings); }

signals:
    // log()[index] has been answered (its reply queued, possibly empty).
    void requestHandled(int index);
    void errorRecorded(int index);
    // The radio's own reply to an end packet has been read by the program.
    void sessionEnded();
    void hungUp();
    void presenceChanged(bool present);

private:
    void take(QByteArrayView bytes);
    void complete();
    void deliver(int index, const ScriptedResponse::Answer& answer);
    void send(QByteArrayView bytes);

    RequestFramer m_framer;
    ScriptedResponse m_response;
    FlashModel m_model;
    // Before the transport, which hands it the pty and takes it back as it closes.
    Delivery m_delivery;
    std::unique_ptr<Transport> m_transport;
    QString m_devicePath;

    LineSettings m_line; // of the request coming in
    QList<Exchange> m_log;
    bool m_present = true;
    int m_radioNumber = 1;
};

} // namespace tqb9::sim
