// The strict reader for firmware files: every rule with the line it must name, and whole files in
// each format that must give one identical image.
#include "firmwaretext.h"
#include "image/firmware.h"
#include "image/firmwarefile.h"
#include "image/firmwaretable.h"
#include "image/memoryimage.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <random>

namespace tqb9 {
namespace {

using namespace testfiles;

struct Refused {
    const char* name;
    std::string content;
    const char* where; // "f:LINE: "
    const char* what;  // part of the message
};

const std::string kHeader = srec(0, 0, {}) + "\n";
const std::string kData = srec(2, 0xC0000, {1, 2, 3}) + "\n";
const std::string kEnd = srec(8, 0, {}) + "\n";
const std::string kHexEnd = ihex(1, 0, {}) + "\n";
const std::string kHexBase = ihex(4, 0, {0x00, 0x0C}) + "\n";

std::string withChecksum(std::string line, const char* checksum)
{
    line.replace(line.size() - 2, 2, checksum);
    return line + "\n";
}

class StrictReaderRefuses : public ::testing::TestWithParam<Refused> {};

TEST_P(StrictReaderRefuses, NamingTheLine)
{
    const Refused& c = GetParam();
    const FirmwareFileResult result = readFirmwareFile(c.content, "f");
    const auto* error = std::get_if<FirmwareFileError>(&result);
    ASSERT_TRUE(error) << "accepted";
    EXPECT_EQ(error->kind, FirmwareFileError::Kind::Invalid);
    EXPECT_EQ(error->message.rfind(c.where, 0), 0u) << error->message;
    EXPECT_NE(error->message.find(c.what), std::string::npos) << error->message;
}

INSTANTIATE_TEST_SUITE_P(
    EveryRule, StrictReaderRefuses,
    ::testing::Values(
        Refused{"SChecksum", kHeader + withChecksum(srec(2, 0xC0000, {1}), "00") + kEnd,
                "f:2: ", "checksum 0x00, expected 0x"},
        Refused{"SCountLongerThanLine", kHeader + "S2070C000001F6\n" + kEnd,
                "f:2: ", "byte count 0x07, but 5 bytes follow"},
        Refused{"SCountBelowAddress", "S2030C00F0\n" + kEnd, "f:1: ", "too small"},
        Refused{"OddDigits", kHeader + kData + "S2050C000001F\n" + kEnd, "f:3: ", "odd number"},
        Refused{"NotAHexDigit", kHeader + "S2050C0000G1ED\n" + kEnd,
                "f:2: ", "'G' at column 11 is not a hex digit"},
        Refused{"StrayAfterRecord",
                kHeader + kData.substr(0, kData.size() - 1) + " \tx \t\n" + kEnd,
                "f:2: ", "'x' at column 21 is not a hex digit"},
        Refused{"S4", kHeader + "S4030000FC\n" + kEnd, "f:2: ", "S4 is not an S-record type"},
        Refused{"SNoType", kHeader + "S\n" + kEnd, "f:2: ", "not an S-record type"},
        Refused{"S5Count", kHeader + kData + kData + srec(5, 3, {}) + "\n" + kEnd,
                "f:4: ", "S5 says 3 data records, but 2 come before it"},
        Refused{"S6Count", kHeader + kData + srec(6, 0, {}) + "\n" + kEnd, "f:3: ", "S6 says 0"},
        Refused{"TwoEndRecords", kHeader + kData + kEnd + "\n" + srec(9, 0, {}) + "\n",
                "f:5: ", "a record after the end record on line 3"},
        Refused{"NoEndRecord", kHeader + kData + "\n", "f:3: ",
                "no end record (S7, S8 or S9), nor an S5 or S6 count after the last data record, "
                "so a file cut short cannot be told from a whole one; if this one is whole, add "
                "both with: srec_cat f -o f-ended.s19 -motorola -execution-start-address 0"},
        Refused{"CountNotLastWithoutEnd", kHeader + kData + srec(5, 1, {}) + "\n" + kData,
                "f:4: ", "no end record"},
        Refused{"EndRecordWithData", kData + srec(8, 0, {1}) + "\n", "f:2: ", "carries no data"},
        Refused{"HexChecksum", kHexBase + withChecksum(ihex(0, 0, {1, 2}), "FF") + kHexEnd,
                "f:2: ", "checksum 0xFF, expected 0x"},
        Refused{"HexCount", kHexBase + ":04000000010203F6\n" + kHexEnd,
                "f:2: ", "byte count 0x04, but the record holds 3"},
        Refused{"HexTooShort", kHexBase + ":0000\n" + kHexEnd, "f:2: ", "too short"},
        Refused{"HexType06", kHexBase + ihex(6, 0, {}) + "\n" + kHexEnd,
                "f:2: ", "record type 06 is not one of 00 to 05"},
        Refused{"HexEndNotLast", kHexBase + kHexEnd + ihex(0, 0, {1}) + "\n",
                "f:3: ", "after the end record on line 2"},
        Refused{"HexNoEnd", kHexBase + ihex(0, 0, {1}) + "\n", "f:2: ", "no end-of-file record"},
        Refused{"HexEndWithData", kHexBase + ihex(0, 0, {1}) + "\n" + ihex(1, 0, {0}) + "\n",
                "f:3: ", "carries 0 data bytes, this one 1"},
        Refused{"HexPastSegment", kHexBase + ihex(0, 0xFFFE, {1, 2, 3}) + "\n" + kHexEnd,
                "f:2: ", "runs 1 bytes past the end of its 64 KB segment"},
        Refused{"HexBaseRecordSize", ihex(2, 0, {0xC0}) + "\n" + kHexEnd,
                "f:1: ", "extended segment address"},
        Refused{"BelowImage", kHeader + srec(2, 0xBFFFE, {1, 2, 3}) + "\n" + kEnd,
                "f:2: ", "data at 0xBFFFE lies outside 0xC0000..0xFFFFF"},
        Refused{"AboveImage", srec(3, 0xFFFFF, {1, 2}) + "\n" + srec(7, 0, {}) + "\n",
                "f:1: ", "data at 0x100000 lies outside"},
        Refused{"HexAboveImage", ihex(4, 0, {0x00, 0x10}) + "\n" + ihex(0, 0, {1}) + "\n" + kHexEnd,
                "f:2: ", "0x100000 lies outside"},
        Refused{"S1NeverInImage", srec(1, 0x1000, {1}) + "\n" + srec(9, 0, {}) + "\n",
                "f:1: ", "0x01000 lies outside"},
        Refused{"SameAddressTwoValues",
                kHeader + srec(2, 0xC0010, {1, 2}) + "\n\n" + srec(2, 0xC0011, {9}) + "\n" + kEnd,
                "f:4: ", "0xC0011 is given 0x09 here but 0x02 on line 2"},
        Refused{"NoData", kHeader + kEnd, "f:2: ", "no data"},
        Refused{"Empty", "", "f:1: ", "empty"},
        Refused{"OnlyBlankLines", "\n\r\n\n", "f:3: ", "empty"},
        Refused{"Nul", kHeader + std::string("S2\0", 3) + "\n" + kEnd, "f:2: ", "byte 0x00"},
        Refused{"RawImage", std::string("\x7F\x0C\0\0\xFF\nELF", 9), "f:1: ",
                "not text but binary (byte 0x7F), so neither S-record nor Intel HEX; if it is a "
                "raw image of the radio's flash from 0xC0000, make an S-record file of it with: "
                "srec_cat f -binary -offset 0xC0000 -o f.s19 -motorola"},
        Refused{"BinaryLargerThanAnImage", std::string(kImageSize + 1, '\0'),
                "f:1: ", "at 262145 bytes it is not a raw image of 0xC0000..0xFFFFF either"},
        Refused{"Utf16",
                "\xFF\xFES\0"
                "2\0",
                "f:1: ", "UTF-16 byte-order mark"},
        Refused{"ByteOrderMarkNotAtStart", kHeader + "\xEF\xBB\xBF" + kData + kEnd, "f:2: ",
                "a UTF-8 byte-order mark (EF BB BF) at column 1: one is allowed only at the very "
                "start"},
        Refused{"LoneCr", kHeader + kData.substr(0, kData.size() - 1) + "\r" + kEnd,
                "f:2: ", "a CR at column"},
        Refused{"NeitherFormat", "\n# firmware\n" + kData,
                "f:2: ", "starts with '#': neither an S-record"},
        Refused{"MixedFormats", kHeader + ihex(0, 0, {1}) + "\n" + kEnd,
                "f:2: ", "this is an S-record file"},
        Refused{"LeadingBlank", kHeader + " " + kData + kEnd, "f:2: ", "starts with ' '"}),
    [](const ::testing::TestParamInfo<Refused>& param) { return std::string(param.param.name); });

// The same image in every shape a writer may give it; those srec_cat writes, and a UTF-8
// byte-order mark with blanks after each record, are read against srec_cat in srec_cat.cmake.
TEST(StrictReader, EveryFormatAndShapeGivesOneImage)
{
    const Image image = sampleImage();
    std::vector<std::string> shuffled = srecLines(image, 2, 16);
    std::shuffle(shuffled.begin() + 1, shuffled.end() - 1, std::mt19937(7));
    std::string lowerCase = joined(hexLines(image, 4, 255));
    std::transform(lowerCase.begin(), lowerCase.end(), lowerCase.begin(),
                   [](char c) { return static_cast<char>(std::tolower(c)); });
    std::vector<std::string> withCounts = srecLines(image, 2);
    withCounts.insert(withCounts.end() - 1,
                      srec(5, static_cast<std::uint32_t>(withCounts.size() - 2), {}));
    const std::vector<std::pair<const char*, std::string>> files{
        {"S2", joined(srecLines(image, 2))},
        {"S3 with CR LF", joined(srecLines(image, 3, 64), "\r\n")},
        {"S2 shuffled", joined(shuffled)},
        {"S2 with S5 and blank lines", "\n" + joined(withCounts, "\n\n")},
        {"HEX with 02", joined(hexLines(image, 2))},
        {"HEX with 04, CR LF", joined(hexLines(image, 4, 16), "\r\n")},
        {"HEX lower case, 255-byte records", lowerCase},
        {"HEX without a last line end",
         joined(hexLines(image, 4)).substr(0, joined(hexLines(image, 4)).size() - 1)},
    };
    std::uint32_t boot = 0;
    for (const auto& [address, value] : image)
        boot += address >= 0xFF000 ? 1 : 0;
    for (const auto& [name, text] : files) {
        SCOPED_TRACE(name);
        const FirmwareFileResult result = readFirmwareFile(text, name);
        const auto* file = std::get_if<FirmwareFile>(&result);
        ASSERT_TRUE(file) << std::get<FirmwareFileError>(result).message;
        EXPECT_EQ(file->format, text[0] == ':' || text[1] == ':' ? FirmwareFormat::IntelHex
                                                                 : FirmwareFormat::SRecord);
        EXPECT_EQ(file->dataBytes, image.size());
        EXPECT_EQ(file->bootBlockBytes, boot);
        EXPECT_EQ(file->firstAddress, image.begin()->first);
        EXPECT_EQ(file->lastAddress, image.rbegin()->first);
        std::size_t mismatches = 0;
        for (std::uint32_t a = kImageFirst; a < kImageEnd; ++a) {
            const auto it = image.find(a);
            const int expected = it == image.end() ? -1 : it->second;
            const int actual = file->given(a) ? file->at(a) : -1;
            mismatches += expected != actual ? 1 : 0;
        }
        EXPECT_EQ(mismatches, 0u);
    }
}

TEST(StrictReader, SameValueTwiceIsFineAndRecordsAreCounted)
{
    const std::string text = kHeader + kData + "\n" + kData + srec(2, 0xC0001, {2}) + "\n" + kEnd;
    const FirmwareFileResult result = readFirmwareFile(text, "f");
    const auto* file = std::get_if<FirmwareFile>(&result);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->records, 5);
    EXPECT_EQ(file->dataBytes, 3u);
    EXPECT_EQ(file->lineOf[1], 2u);
}

TEST(StrictReader, FilesThatCannotBeReadOrAreTooLarge)
{
    const auto missing = readFirmwareFileAt("/nonexistent/fw.hex");
    ASSERT_TRUE(std::holds_alternative<FirmwareFileError>(missing));
    EXPECT_EQ(std::get<FirmwareFileError>(missing).kind, FirmwareFileError::Kind::Unreadable);
    EXPECT_EQ(std::get<FirmwareFileError>(missing).message.rfind("/nonexistent/fw.hex: ", 0), 0u);

    const auto directory = readFirmwareFileAt("/");
    ASSERT_TRUE(std::holds_alternative<FirmwareFileError>(directory));
    EXPECT_EQ(std::get<FirmwareFileError>(directory).kind, FirmwareFileError::Kind::Unreadable);

    // Sparse, so the test costs no disk: refused by its size before a byte is read.
    const std::string big = (std::filesystem::temp_directory_path() / "tq-b9-big.s19").string();
    std::ofstream{big}.close();
    std::filesystem::resize_file(big, kMaxFirmwareFileBytes + 1);
    const auto tooBig = readFirmwareFileAt(big);
    std::filesystem::remove(big);
    ASSERT_TRUE(std::holds_alternative<FirmwareFileError>(tooBig));
    EXPECT_EQ(std::get<FirmwareFileError>(tooBig).kind, FirmwareFileError::Kind::Invalid);
    EXPECT_NE(
        std::get<FirmwareFileError>(tooBig).message.find(":1: 16777217 bytes, over the 16 MiB"),
        std::string::npos);
}

// Every run erases all eight flash blocks below the boot block: a file must refill each of them,
// or the radio is left blank there.
TEST(StrictReader, FilesThatWouldLeaveTheRadioBlank)
{
    const auto sections = [](std::initializer_list<std::pair<std::uint32_t, std::uint8_t>> list) {
        Image image;
        for (const auto& [from, value] : list) {
            for (std::uint32_t a = from; a < from + 16; ++a)
                image[a] = value;
        }
        return std::get<FirmwareFile>(readFirmwareFile(joined(srecLines(image, 2)), "f"));
    };
    Image full = sampleImage();
    const struct {
        const char* name;
        FirmwareFile file;
        std::string refused; // what the refusal says
        bool evenAllowed;    // ... also when blank blocks are allowed
    } cases[] = {
        {"boot block only", sections({{0xFF000, 1}}),
         "f: holds nothing the writer would write: no byte other than 0xFF in 0xC0000..0xFEFFF, "
         "so a run would erase the radio's flash and leave it blank; its 16 bytes in "
         "0xFF000..0xFFFFF are never written",
         true},
        {"all 0xFF", sections({{0xC0000, 0xFF}, {0xE0000, 0xFF}}),
         "f: holds nothing the writer would write: no byte other than 0xFF in 0xC0000..0xFEFFF, "
         "so a run would erase the radio's flash and leave it blank",
         true},
        {"one record", sections({{0xC0000, 1}}),
         "f: 0xD0000..0xDFFFF, 0xE0000..0xEFFFF, 0xF0000..0xF7FFF, 0xF8000..0xF9FFF, "
         "0xFA000..0xFBFFF, 0xFC000..0xFDFFF, 0xFE000..0xFEFFF would be erased and left blank",
         false},
        {"one block missing",
         sections({{0xC0000, 1},
                   {0xD0000, 1},
                   {0xE0000, 1},
                   {0xF0000, 1},
                   {0xF8000, 1},
                   {0xFA000, 1},
                   {0xFE000, 1}}),
         "f: 0xFC000..0xFDFFF would be erased and left blank", false},
        {"full", std::get<FirmwareFile>(readFirmwareFile(joined(srecLines(full, 2)), "f")), "",
         false},
    };
    const auto said = [](const std::optional<FirmwareFileError>& refusal) {
        return refusal ? refusal->message : std::string();
    };
    for (const auto& c : cases) {
        EXPECT_EQ(said(blankRadioRefusal(c.file, "f", false)), c.refused) << c.name;
        EXPECT_EQ(said(blankRadioRefusal(c.file, "f", true)), c.evenAllowed ? c.refused : "")
            << c.name;
    }
    // Messages are as long as they need: a deep path keeps its line and reason.
    const std::string deep = "/" + std::string(300, 'd') + "/fw.s19";
    const auto bad = readFirmwareFile("S2040C0000FF\n", deep);
    EXPECT_EQ(std::get<FirmwareFileError>(bad).message, deep + ":1: checksum 0xFF, expected 0xEF");
}

// The test image is told by its blocks, not by where it came from; real firmware never is.
TEST(TestImage, RecognisedInEveryShapeAndNeverInOtherFirmware)
{
    const std::filesystem::path s19 = std::filesystem::path(TQB9_SOURCE_DIR) / "image/firmware.s19";
    const FirmwareFileResult result = readFirmwareFileAt(s19.string());
    ASSERT_TRUE(std::holds_alternative<FirmwareFile>(result));
    const auto& file = std::get<FirmwareFile>(result);

    const auto imageOf = [](const FirmwareFile& f, std::uint32_t keepFrom, std::uint32_t keepTo) {
        auto image = std::make_unique<MemoryImage>();
        for (std::uint32_t a = keepFrom; a < keepTo; ++a) {
            if (f.given(a) && f.at(a) != 0xFF) {
                image->setMemory(a >> 4, a & 0xF, f.at(a));
                image->markRowUsed(a >> 4);
            }
        }
        return image;
    };
    EXPECT_TRUE(isTestImage(*imageOf(file, kImageFirst, kImageEnd)));
    // Trimmed to its last 16 KB below the boot block.
    EXPECT_TRUE(isTestImage(*imageOf(file, 0xFB000, 0xFF000)));
    // Patched: one byte changed in every block but one.
    const auto patch = [&](FirmwareFile& f, std::uint32_t block) {
        std::uint32_t a = block;
        while (!f.given(a) || f.at(a) == 0xFF)
            ++a;
        f.bytes[a - kImageFirst] ^= 0x55;
    };
    FirmwareFile patched = file;
    for (std::uint32_t block = kImageFirst; block < 0xFF000; block += kBlockSize) {
        if (block != 0xD0000 && block != 0xE4400 && block != 0xE4800) // those two are a gap
            patch(patched, block);
    }
    EXPECT_TRUE(isTestImage(*imageOf(patched, kImageFirst, kImageEnd)));
    // ... and every block: no longer the test image.
    patch(patched, 0xD0000);
    EXPECT_FALSE(isTestImage(*imageOf(patched, kImageFirst, kImageEnd)));
    // Only its boot block, which is never written.
    EXPECT_FALSE(isTestImage(*imageOf(file, 0xFF000, kImageEnd)));

    const FirmwareFileResult other = readFirmwareFile(joined(srecLines(sampleImage(), 2)), "f");
    EXPECT_FALSE(isTestImage(*imageOf(std::get<FirmwareFile>(other), kImageFirst, kImageEnd)));
}

} // namespace
} // namespace tqb9
