#pragma once

#include "image/firmwarefile.h"
#include "image/memoryimage.h"

#include <cstdint>
#include <memory>
#include <QByteArray>
#include <QString>
#include <variant>
#include <vector>

namespace tqb9 {

// What the image holds and where it came from.
struct FirmwareInfo {
    enum class Source { BuiltIn, File };

    Source source = Source::BuiltIn;
    QString version; // built-in: the version the build gave it
    QString path;    // file: as it was given
    // The repository's synthetic image, or a copy of part of it: never meant for a radio.
    bool testImage = false;

    // The file's figures; for the built-in firmware only after describeBuiltInFirmware().
    bool hasFigures = false;
    FirmwareFormat format = FirmwareFormat::SRecord;
    int records = 0;
    std::uint32_t firstAddress = 0;
    std::uint32_t lastAddress = 0;
    std::uint32_t dataBytes = 0;
    std::uint32_t bootBlockBytes = 0;
    // Erase blocks the firmware gives no data: a run would leave them blank.
    std::vector<FlashBlock> blankBlocks;

    // "built-in test image", "built-in firmware E5.000", "file fw.hex (Intel HEX)"
    QString sourceText() const;
};

// "0xC0400": a radio address as every program writes one, five upper-case hex digits.
QString addressText(std::uint32_t address);

// The firmware a run writes: the image and everything known about it, worked out once as it is
// loaded. Immutable, and copies share it, so every front end, run, station and watch holds the
// same one on whatever thread. A default one is empty: a run given it writes the built-in
// firmware.
class Firmware {
public:
    Firmware() = default;

    // The built-in firmware, read the way the start-up reads it, once per process.
    static Firmware builtIn();
    // The file at path through the strict reader, refused as loadFirmwareFile refuses it.
    static std::variant<Firmware, FirmwareFileError> fromFile(const QString& path,
                                                              bool allowBlankBlocks = false);
    // An image already in memory, from where info says (its test flag is the image's own).
    static Firmware fromImage(const MemoryImage& image, FirmwareInfo info = {});

    bool isNull() const { return !d; }
    const MemoryImage& image() const;
    // Source (built in, or a file with its path and format), version where known, the file's
    // figures and the erase blocks it leaves blank.
    const FirmwareInfo& info() const;
    // The repository's test image or part of it: never meant for a radio.
    bool isTestImage() const { return info().testImage; }
    // The test image only where the user allowed it; anything else always.
    bool mayBeWritten(bool allowTestFirmware) const { return allowTestFirmware || !isTestImage(); }
    // Of 0xC0000..0xFEFFF as the radio holds them after a run.
    std::uint32_t crc32() const;
    // The first address of each 1 KB block the block write sends, lowest first.
    const std::vector<std::uint32_t>& blocks() const;

private:
    struct Data;
    explicit Firmware(std::shared_ptr<const Data> data) : d(std::move(data)) {}
    static Firmware finish(std::shared_ptr<Data> data);
    static const Data& emptyData();
    std::shared_ptr<const Data> d;
};

// The version the build gives the built-in firmware ("E5.000" unless TQB9_FIRMWARE_VERSION says
// otherwise); it names the window and the programs' --version.
QString builtInFirmwareVersion();

// The built-in firmware's description with its figures, from the strict reader run over the
// compiled-in lines. testImage comes from the image.
FirmwareInfo describeBuiltInFirmware(const MemoryImage& image);

// Reads the file at path with the strict reader and, only when every check passed, puts it into
// image the way the built-in firmware goes in: as S-record lines through ReadSRecLine. A file that
// would leave the radio blank is refused like a bad one (see blankRadioRefusal). On an error the
// image is left as it was.
std::variant<FirmwareInfo, FirmwareFileError>
loadFirmwareFile(const QString& path, MemoryImage& image, bool allowBlankBlocks = false);

// True when a 1 KB block that the block write would send equals one of the test image's own
// blocks, wherever in the range it stands: a trimmed or patched copy of the test image is still
// recognised, and real firmware cannot share a block of pseudo-random bytes with it.
bool isTestImage(const MemoryImage& image);

// 0xC0000..0xFEFFF as the radio holds them after a run (0xFF where nothing is written).
QByteArray writtenRange(const MemoryImage& image);
// 0xC0000..0xFFFFF as the image holds them, the boot block included.
QByteArray wholeImage(const MemoryImage& image);
std::uint32_t crc32Of(const QByteArray& bytes); // zlib's CRC-32, the PNG polynomial
QByteArray sha256Of(const QByteArray& bytes);

} // namespace tqb9
