#pragma once

// The strict reader for firmware files. Unlike ReadSRecLine, which reads the compiled-in table as
// it always has, this checks a whole file before any of it is used: a file that reaches the radio
// is exactly what its records say, or it is refused with the file and line that are wrong.
//
// Standard C++ only: the build's own firmware converter is compiled from this source too.

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tqb9 {

enum class FirmwareFormat { SRecord, IntelHex };

const char* formatName(FirmwareFormat format); // "S-record", "Intel HEX"

// The radio's address space as the image maps it.
inline constexpr std::uint32_t kImageFirst = 0xC0000;
inline constexpr std::uint32_t kImageEnd = 0x100000; // one past 0xFFFFF
inline constexpr std::uint32_t kImageSize = kImageEnd - kImageFirst;
// The top 4 KB: the image holds it, but it is never erased or written.
inline constexpr std::uint32_t kBootBlockFirst = 0xFF000;
inline constexpr std::uint32_t kBlockSize = 1024;

// The radio's flash blocks below the boot block, lowest first. A run erases all of them with one
// packet, so each must get its data back in the same run.
struct FlashBlock {
    std::uint32_t first;
    std::uint32_t last;
};
inline constexpr std::array<FlashBlock, 8> kEraseBlocks{{{0xC0000, 0xCFFFF},
                                                         {0xD0000, 0xDFFFF},
                                                         {0xE0000, 0xEFFFF},
                                                         {0xF0000, 0xF7FFF},
                                                         {0xF8000, 0xF9FFF},
                                                         {0xFA000, 0xFBFFF},
                                                         {0xFC000, 0xFDFFF},
                                                         {0xFE000, 0xFEFFF}}};

// Anything larger is not a firmware file for a 256 KB image, whatever it holds.
inline constexpr std::size_t kMaxFirmwareFileBytes = std::size_t{16} << 20;

struct FirmwareFile {
    FirmwareFormat format = FirmwareFormat::SRecord;
    int records = 0; // every record, blank lines not counted
    std::uint32_t firstAddress = 0;
    std::uint32_t lastAddress = 0;
    std::uint32_t dataBytes = 0;      // addresses the records give a value, each counted once
    std::uint32_t bootBlockBytes = 0; // of those, in 0xFF000..0xFFFFF: held, never written
    // kImageSize bytes from 0xC0000, 0xFF where no record gives a value.
    std::vector<std::uint8_t> bytes;
    // Per byte: the line that gave it its value, 0 where none did.
    std::vector<std::uint32_t> lineOf;

    bool given(std::uint32_t address) const { return lineOf[address - kImageFirst] != 0; }
    std::uint8_t at(std::uint32_t address) const { return bytes[address - kImageFirst]; }
};

struct FirmwareFileError {
    enum class Kind {
        Invalid,    // the file's content breaks a rule
        Unreadable, // the file could not be opened or read
        // Valid, but a run would leave some erase blocks blank: refused unless the user says so.
        LeavesBlocksBlank
    };
    Kind kind = Kind::Invalid;
    std::string message; // "FILE:LINE: what is wrong"
};

using FirmwareFileResult = std::variant<FirmwareFile, FirmwareFileError>;

// Reads a whole S-record or Intel HEX file, told apart by its first record. name is what the
// error messages call the file.
FirmwareFileResult readFirmwareFile(std::string_view content, std::string_view name);

// Reads the file at path with readFirmwareFile; files over kMaxFirmwareFileBytes are refused
// before they are read.
FirmwareFileResult readFirmwareFileAt(const std::filesystem::path& path);

// The erase blocks in which the file gives no byte other than 0xFF: the block write would send
// nothing there, so a run would leave them erased. All eight: the file writes nothing at all.
std::vector<FlashBlock> blankEraseBlocks(const FirmwareFile& file);

// The refusal of a file that would leave the radio blank, "NAME: ..." on one line, or nothing.
// A file that writes nothing is refused whatever allowBlankBlocks says (Invalid); one that
// leaves some erase blocks blank only when it is false (LeavesBlocksBlank).
std::optional<FirmwareFileError> blankRadioRefusal(const FirmwareFile& file, std::string_view name,
                                                   bool allowBlankBlocks);

// The bytes as S-record lines in the built-in table's own shape: the header, one S2 record for
// each run of up to 32 given bytes that does not cross a 32-byte boundary, the end record. Reading
// them with ReadSRecLine gives exactly the file's image.
std::vector<std::string> toSRecordLines(const FirmwareFile& file);
// The same lines one at a time, each valid only during its call: loading a file needs no copy.
void forEachSRecordLine(const FirmwareFile& file,
                        const std::function<void(std::string_view)>& take);

// A fingerprint of one 1 KB block (64-bit FNV-1a). The test image's blocks are recognised by it.
std::uint64_t blockFingerprint(const std::uint8_t* block);

// A block carries a fingerprint worth comparing only with this many bytes that are not 0xFF:
// fewer could be found in any firmware by chance.
inline constexpr int kFingerprintMinimumData = 256;

// The fingerprint of a 1 KB block that carries enough data to be told by it, or nothing.
std::optional<std::uint64_t> telltaleFingerprint(const std::uint8_t* block);

} // namespace tqb9
