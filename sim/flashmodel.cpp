#include "sim/flashmodel.h"

#include <algorithm>
#include <QFile>

namespace tqb9::sim {

namespace {

const QByteArray kCrLf("\r\n");

QByteArray plainReply(const QByteArray& letters)
{
    return letters.isEmpty() ? QByteArray() : letters + kCrLf;
}

QByteArray framedReply(const QByteArray& letters)
{
    return letters.isEmpty() ? QByteArray() : kCrLf + letters + kCrLf;
}

quint32 bigEndian(const QByteArray& bytes, qsizetype at, int width)
{
    quint32 value = 0;
    for (int i = 0; i < width; ++i)
        value = (value << 8) | static_cast<quint8>(bytes[at + i]);
    return value;
}

QString hex(quint32 value)
{
    return QStringLiteral("0x%1").arg(
        QString::number(value, 16).toUpper().rightJustified(5, QLatin1Char('0')));
}

bool checksumOk(const QByteArray& packet)
{
    unsigned sum = 0;
    for (qsizetype i = 2; i < kPacketSize - 1; ++i)
        sum += static_cast<quint8>(packet[i]);
    return static_cast<quint8>(sum) == static_cast<quint8>(packet[kPacketSize - 1]);
}

int blockIndexOf(quint32 address)
{
    for (std::size_t i = 0; i < kEraseBlocks.size(); ++i) {
        if (address >= kEraseBlocks[i].first && address <= kEraseBlocks[i].last)
            return static_cast<int>(i);
    }
    return -1;
}

} // namespace

FlashModel::FlashModel(QObject* parent) : QObject(parent), m_flash(kFlashSize, Qt::Uninitialized)
{
    reset();
}

void FlashModel::reset()
{
    m_flash.resize(kFlashSize);
    for (qsizetype i = 0; i < kFlashSize; ++i)
        m_flash[i] = static_cast<char>(blankByte(kFlashStart + static_cast<quint32>(i)));
    m_flashMode = false;
    m_erased = {};
    m_written.clear();
    m_errors.clear();
}

quint8 FlashModel::blankByte(quint32 address)
{
    // The top bit is always clear: never 0xFF, and a program write over it shows as a damaged
    // byte wherever the data has that bit set.
    return static_cast<quint8>(((address >> 4) ^ address) & 0x7F);
}

void FlashModel::setReplyLetters(Command command, const QByteArray& letters)
{
    if (command != Command::Other)
        m_letters[static_cast<int>(command)] = letters;
}

QByteArray FlashModel::replyLetters(Command command) const
{
    return letters(command);
}

QList<quint32> FlashModel::writtenBlocks() const
{
    QList<quint32> blocks(m_written.cbegin(), m_written.cend());
    std::sort(blocks.begin(), blocks.end());
    return blocks;
}

QList<quint32> FlashModel::erasedBlocks() const
{
    QList<quint32> blocks;
    for (std::size_t i = 0; i < kEraseBlocks.size(); ++i) {
        if (m_erased[i])
            blocks.append(kEraseBlocks[i].first);
    }
    return blocks;
}

bool FlashModel::writeFlash(const QString& path, QString* error) const
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(m_flash) != m_flash.size() || !file.flush()) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

int FlashModel::errorCount(ErrorKind kind) const
{
    return static_cast<int>(std::count_if(m_errors.cbegin(), m_errors.cend(),
                                          [kind](const Error& e) { return e.kind == kind; }));
}

void FlashModel::recordError(ErrorKind kind, const QString& message, int exchange)
{
    m_errors.append(Error{kind, message, exchange});
    emit errorRecorded(static_cast<int>(m_errors.size() - 1));
}

FlashModel::Outcome FlashModel::perform(const Request& request, bool packet, int exchange)
{
    if (packet)
        return performPacket(request, exchange);
    switch (request.command) {
    case Command::Query:
        return {framedReply(letters(request.command))};
    case Command::Connect:
        m_flashMode = true;
        return {plainReply(letters(request.command))};
    default:
        return {};
    }
}

FlashModel::Outcome FlashModel::performPacket(const Request& request, int exchange)
{
    const Command command = request.command;
    const bool sound = command != Command::Other && checksumOk(request.bytes);
    if (!m_flashMode) {
        // Ending a session that has already ended does no harm, so the radio just acknowledges
        // it; that lets a program retry an end packet whose "ED" it missed.
        if (command == Command::End && sound)
            return {plainReply(letters(command)), true};
        recordError(ErrorKind::NotInFlashMode,
                    QStringLiteral("%1 packet before \"ZK~FLASH\"").arg(commandName(command)),
                    exchange);
        return {};
    }
    if (command == Command::Other) {
        recordError(ErrorKind::BadPacket,
                    QStringLiteral("packet starting %1 is no erase, program or end packet")
                        .arg(QString::fromLatin1(request.bytes.first(4).toHex(' ').toUpper())),
                    exchange);
        return {plainReply("NG")};
    }
    if (!sound) {
        recordError(ErrorKind::BadChecksum,
                    QStringLiteral("%1 packet with a wrong checksum").arg(commandName(command)),
                    exchange);
        return {plainReply("NG")};
    }

    switch (command) {
    case Command::Erase:
        return {performErase(request, exchange)};
    case Command::Program:
        return {performProgram(request, exchange)};
    case Command::End:
        m_flashMode = false;
        return {plainReply(letters(command)), true};
    default:
        return {};
    }
}

QByteArray FlashModel::performErase(const Request& request, int exchange)
{
    constexpr int kSlots = 9;
    for (int slot = 0; slot < kSlots; ++slot) {
        const quint32 address = bigEndian(request.bytes, 4 + 4 * slot, 4);
        if (address == 0xFFFFFFFF)
            continue;
        const int block = blockIndexOf(address);
        if (block < 0 || address != kEraseBlocks[block].last - 1) {
            recordError(ErrorKind::BadAddress,
                        QStringLiteral("erase slot %1 holds %2, which is not the highest even "
                                       "address of a flash block")
                            .arg(slot + 1)
                            .arg(hex(address)),
                        exchange);
            continue;
        }
        const EraseBlock& range = kEraseBlocks[block];
        if (range.first == kBootBlockStart)
            recordError(ErrorKind::BootBlock, QStringLiteral("the boot block was erased"),
                        exchange);
        std::fill(m_flash.begin() + (range.first - kFlashStart),
                  m_flash.begin() + (range.last - kFlashStart + 1), char(0xFF));
        m_erased[block] = true;
    }
    return plainReply(letters(Command::Erase));
}

QByteArray FlashModel::performProgram(const Request& request, int exchange)
{
    const quint32 address = request.address;
    if (address % kProgramBlockSize != 0 || address < kFlashStart ||
        address + kProgramBlockSize > kFlashEnd) {
        recordError(
            ErrorKind::BadAddress,
            QStringLiteral("program address %1 is not a 1 KB block of the flash").arg(hex(address)),
            exchange);
        return plainReply("NG");
    }
    if (address >= kBootBlockStart)
        recordError(ErrorKind::BootBlock,
                    QStringLiteral("program into the boot block at %1").arg(hex(address)),
                    exchange);

    // Flash cells can only go from 1 to 0; a write over old content ANDs with it.
    const int block = blockIndexOf(address);
    const qsizetype offset = address - kFlashStart;
    bool bitsLost = false;
    for (quint32 i = 0; i < kProgramBlockSize; ++i) {
        const auto data = static_cast<quint8>(request.bytes[kPacketHead + i]);
        const auto result = static_cast<quint8>(static_cast<quint8>(m_flash[offset + i]) & data);
        bitsLost = bitsLost || result != data;
        m_flash[offset + i] = static_cast<char>(result);
    }
    if (!m_erased[block]) {
        recordError(
            ErrorKind::UnerasedWrite,
            QStringLiteral("write to unerased flash at %1: block %2..%3 has not been "
                           "erased")
                .arg(hex(address), hex(kEraseBlocks[block].first), hex(kEraseBlocks[block].last)),
            exchange);
    } else if (bitsLost) {
        recordError(ErrorKind::UnerasedWrite,
                    QStringLiteral("write to unerased flash at %1: it was programmed before")
                        .arg(hex(address)),
                    exchange);
    }
    m_written.insert(address);
    return plainReply(letters(Command::Program));
}

} // namespace tqb9::sim
