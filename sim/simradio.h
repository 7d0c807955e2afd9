#pragma once

#include "sim/frameclock.h"

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

class QSocketNotifier;

namespace tqb9::sim {

class Pty;

// The radio's flash, 0xC0000..0xFFFFF. flash() index 0 is kFlashStart.
inline constexpr quint32 kFlashStart = 0xC0000;
inline constexpr quint32 kFlashEnd = 0x100000; // one past the last address
inline constexpr qsizetype kFlashSize = kFlashEnd - kFlashStart;
inline constexpr quint32 kProgramBlockSize = 1024;
inline constexpr qsizetype kPacketSize = 1032;
// 57600 bit/s with a start bit, 8 data bits and a stop bit per byte.
inline constexpr qint64 kLineBytesPerSecond = 5760;

// The erase blocks of the radio's flash chip. An erase packet names a block by its highest even
// address, last - 1. The top 4 KB block holds the radio's boot code.
struct EraseBlock {
    quint32 first;
    quint32 last;
};
inline constexpr std::array<EraseBlock, 9> kEraseBlocks{{{0xC0000, 0xCFFFF},
                                                         {0xD0000, 0xDFFFF},
                                                         {0xE0000, 0xEFFFF},
                                                         {0xF0000, 0xF7FFF},
                                                         {0xF8000, 0xF9FFF},
                                                         {0xFA000, 0xFBFFF},
                                                         {0xFC000, 0xFDFFF},
                                                         {0xFE000, 0xFEFFF},
                                                         {0xFF000, 0xFFFFF}}};
inline constexpr quint32 kBootBlockStart = 0xFF000;

enum class Command {
    Query,   // "ZK~TQ-B9E" CR
    Connect, // "ZK~FLASH" CR
    Erase,   // packet "B","E"
    Program, // packet "P","G"
    End,     // packet "E","D"
    Other,   // any other text line, or a packet with a wrong header or unknown type letters
};
inline constexpr int kCommandCount = 6;

// "query", "connect", "erase", "program", "end", "other".
QString commandName(Command command);
std::optional<Command> commandFromName(QStringView name);

// What the serial line was set to, as the pseudo-terminal reports it. The Linux pty driver forces
// 8 data bits and no parity whatever the program asks for, so only the speed and the stop bits
// can really be checked there.
struct LineSettings {
    qint32 baudRate = 0; // 0 when the speed has no number
    char parity = 'n';   // n, e, o, m, s
    int dataBits = 8;
    int stopBits = 1;

    // "57600,n,8,1"
    QString toString() const;
    bool operator==(const LineSettings&) const = default;
};
inline constexpr LineSettings kExpectedLine{57600, 'n', 8, 1};

// One request as the radio identified it: a text line once its CR has arrived, a packet once its
// header, type letters and address (the first 7 bytes) have arrived. The echo waits for that
// moment, so a script can still withhold all of it.
struct Request {
    Command command = Command::Other;
    quint32 address = 0; // Program: the 24-bit address in bytes 4..6; 0 otherwise
    int attempt = 1;     // 1-based count of this command (Program: at this address) so far
    int number = 1;      // 1-based count of this command so far, any address
    QByteArray bytes{};  // the text line, or a packet's first 7 bytes; all of it in log()
};

// How a script bends the radio's answer to one request. A default-constructed Response changes
// nothing, so a script only sets what it wants to break.
struct Response {
    // Sent instead of the radio's own reply (framed for the query, plain otherwise); an empty
    // array is silence.
    std::optional<QByteArray> reply{};
    // Bytes dropped from the end of the reply: 1 loses the LF, 3 leaves only the first letter.
    int cut = 0;
    // Sent after the echo, before the reply.
    QByteArray garbage{};
    // Counted from the request's last byte; the echo is not delayed.
    std::chrono::milliseconds delay{0};
    bool echo = true;
    // Hang up once the reply (or, without one, the echo) has been read by the program.
    bool hangUp = false;
};

// Called once per request, as soon as it is identified; nullopt keeps the radio's own behaviour.
using Script = std::function<std::optional<Response>(const Request&)>;

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

enum class ErrorKind {
    BadPacket,         // wrong header or unknown type letters
    BadChecksum,       // checksum byte does not match bytes 2..1030
    BadAddress,        // erase or program address that names no block of the flash
    UnerasedWrite,     // program into a block not erased since start, or needing a 0 -> 1 bit
    BootBlock,         // erase of, or program into, the top 4 KB block
    NotInFlashMode,    // erase or program packet before "ZK~FLASH"
    WrongLineSettings, // a request arrived at other settings than 57600,n,8,1
};

struct Error {
    ErrorKind kind = ErrorKind::BadPacket;
    QString message{};
    int exchange = -1; // index into log()
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
    struct Wire {
        std::function<void(QByteArrayView)> toProgram;
        std::function<void(std::chrono::milliseconds, std::function<void()>)> after;
        std::function<LineSettings()> line;
    };
    void attach(Wire wire);
    void detach() { m_wire.reset(); }
    // The slave device the program opens, e.g. "/dev/pts/5"; empty before start().
    QString devicePath() const { return m_devicePath; }
    // Started and not hung up.
    bool isRunning() const;
    // Closes the pty at once: the device vanishes and the program's port fails.
    void hangUp();
    // Bytes from the program handed over in-process, as if the pty had just delivered them. The
    // fuzz target needs to know that every byte has been taken; the pty cannot tell it.
    void receive(QByteArrayView bytes) { take(bytes); }

    void setScript(Script script) { m_script = std::move(script); }
    // Sends echo and replies no faster than the real line, kLineBytesPerSecond.
    void setPacing(bool on);
    bool pacing() const { return m_pacing; }
    // Hands echo and replies to the program the way a USB serial adapter does: only at its 1 ms
    // frames, each time a full USB packet's worth has gathered or the oldest byte held has waited
    // the adapter's latency (1 ms: every frame; an FTDI chip's default is 16 ms). 0 turns it off,
    // so every byte is handed over as soon as the line has carried it.
    void setUsbLatency(std::chrono::milliseconds latency);
    // Writes each echo and each reply to the pty on its own as soon as it is made, unpaced, as a
    // radio does that echoes what it has read and answers once it has done the work: the program
    // then sees its request's echo and the reply arrive apart, in any interleaving with its waits.
    void setSeparateWrites(bool on) { m_separateWrites = on; }
    std::chrono::milliseconds usbLatency() const { return m_usbLatency; }
    // The radio's own two reply letters for a command: query "OK" (framed; "RE" for a region
    // mismatch), connect "CT", erase "BE", program "OK" (or "PG"), end "ED".
    void setReplyLetters(Command command, const QByteArray& letters);
    QByteArray replyLetters(Command command) const;

    bool inFlashMode() const { return m_flashMode; }

    // 262,144 bytes, index 0 = 0xC0000. Starts as blankByte(), erased bytes read 0xFF.
    const QByteArray& flash() const { return m_flash; }
    // The content before any erase: never 0xFF, so a missing erase shows.
    static quint8 blankByte(quint32 address);
    // Start addresses of the 1 KB blocks ever programmed, ascending.
    QList<quint32> writtenBlocks() const;
    // First addresses of the erase blocks erased since start, ascending.
    QList<quint32> erasedBlocks() const;
    // Raw 262,144 bytes, 0xC0000 first.
    bool writeFlash(const QString& path, QString* error = nullptr) const;

    const QList<Exchange>& log() const { return m_log; }
    // Requests of this command received so far.
    int count(Command command) const { return m_counts[static_cast<int>(command)]; }
    const QList<Error>& errors() const { return m_errors; }
    int errorCount(ErrorKind kind) const;
    // Requests that arrived at other settings than kExpectedLine.
    int wrongLineCount() const { return errorCount(ErrorKind::WrongLineSettings); }

signals:
    // log()[index] has been answered (its reply queued, possibly empty).
    void requestHandled(int index);
    void errorRecorded(int index);
    // The radio's own reply to an end packet has been read by the program.
    void sessionEnded();
    void hungUp();

private:
    struct DrainWaiter {
        qint64 deadlineNs;
        std::function<void()> action;
    };

    void onReadable();
    void take(QByteArrayView bytes);
    void beginRequest(char first);
    void identify();
    void complete();
    QByteArray perform(int index, bool* endsSession);
    QByteArray performErase(int index);
    QByteArray performProgram(int index);
    void deliver(int index, const QByteArray& reply, bool endsSession, bool hang);
    void recordError(ErrorKind kind, const QString& message, int exchange);

    void send(QByteArrayView bytes);
    void pump();
    void onUsbFrame();
    void whenDrained(std::function<void()> action);
    void checkDrained();
    void closePty();

    std::optional<Wire> m_wire;
    bool m_wireUp = false;
    std::unique_ptr<Pty> m_pty;
    std::unique_ptr<QSocketNotifier> m_readNotifier;
    std::unique_ptr<QSocketNotifier> m_writeNotifier;
    QString m_devicePath;

    Script m_script;
    std::array<QByteArray, kCommandCount> m_letters;
    bool m_flashMode = false;

    // The request being received.
    QByteArray m_in;
    bool m_inPacket = false;
    bool m_identified = false;
    Request m_request;
    Response m_response;
    LineSettings m_line;
    QHash<quint64, int> m_attempts;

    QByteArray m_flash;
    std::array<bool, kEraseBlocks.size()> m_erased{};
    QSet<quint32> m_written;

    QList<Exchange> m_log;
    std::array<int, kCommandCount> m_counts{};
    QList<Error> m_errors;

    // Output: echo and replies wait here until the pty (and, when pacing, the line) takes them.
    QByteArray m_out;
    bool m_pacing = false;
    bool m_taking = false; // inside take(): sends wait for its end
    bool m_separateWrites = false;
    QElapsedTimer m_clock;
    qint64 m_burstStartNs = 0;
    qint64 m_burstBytes = 0;
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
