#pragma once

#include "sim/requestframer.h"

#include <array>
#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

namespace tqb9::sim {

// The radio's flash, 0xC0000..0xFFFFF. flash() index 0 is kFlashStart.
inline constexpr quint32 kFlashStart = 0xC0000;
inline constexpr quint32 kFlashEnd = 0x100000; // one past the last address
inline constexpr qsizetype kFlashSize = kFlashEnd - kFlashStart;
inline constexpr quint32 kProgramBlockSize = 1024;

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

// What a whole request does to the radio: flash mode, the flash chip, the radio's own reply, and
// the list of everything a correct program would never have made it do.
class FlashModel : public QObject {
    Q_OBJECT
public:
    explicit FlashModel(QObject* parent = nullptr);

    // The radio's own reply to a request, and whether it ends the session. A script may still
    // replace the reply, so the session only ends if the program gets this one.
    struct Outcome {
        QByteArray reply;
        bool endsSession = false;
    };
    // request.bytes holds all of the request. packet says which kind it came as: an unknown text
    // line is not answered, a damaged packet gets "NG". Errors name exchange.
    Outcome perform(const Request& request, bool packet, int exchange);

    void setReplyLetters(Command command, const QByteArray& letters);
    QByteArray replyLetters(Command command) const;
    bool inFlashMode() const { return m_flashMode; }

    const QByteArray& flash() const { return m_flash; }
    static quint8 blankByte(quint32 address);
    QList<quint32> writtenBlocks() const;
    QList<quint32> erasedBlocks() const;
    bool writeFlash(const QString& path, QString* error) const;
    // A new radio of the same kind: the flash as it left the factory, out of flash mode, no
    // errors; the reply letters stay.
    void reset();

    void recordError(ErrorKind kind, const QString& message, int exchange);
    const QList<Error>& errors() const { return m_errors; }
    int errorCount(ErrorKind kind) const;

signals:
    void errorRecorded(int index);

private:
    Outcome performPacket(const Request& request, int exchange);
    QByteArray performErase(const Request& request, int exchange);
    QByteArray performProgram(const Request& request, int exchange);
    QByteArray letters(Command command) const { return m_letters[static_cast<int>(command)]; }

    // In Command's order: query, connect, erase, program, end.
    std::array<QByteArray, kCommandCount> m_letters{"OK", "CT", "BE", "OK", "ED", {}};
    bool m_flashMode = false;
    QByteArray m_flash;
    std::array<bool, kEraseBlocks.size()> m_erased{};
    QSet<quint32> m_written;
    QList<Error> m_errors;
};

} // namespace tqb9::sim
