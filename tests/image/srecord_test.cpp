#include "firmwaretext.h"
#include "image/memoryimage.h"
#include "image/srecord.h"

#include <cstdint>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace tqb9 {
namespace {

using testfiles::srec;

std::vector<std::uint8_t> counting(int n, int from = 0)
{
    std::vector<std::uint8_t> data;
    for (int i = 0; i < n; ++i)
        data.push_back(static_cast<std::uint8_t>(from + i));
    return data;
}

// Cells that differ from 0xFF and flags that are set, so "changed nothing" is one comparison.
std::vector<std::string> changes(const MemoryImage& image)
{
    std::vector<std::string> out;
    char buffer[32];
    for (long row = MemoryImage::kFirstRow; row <= MemoryImage::kLastRow; ++row) {
        if (image.blnRowUsed(row)) {
            std::snprintf(buffer, sizeof buffer, "flag %04lX", row);
            out.emplace_back(buffer);
        }
        for (long column = 0; column < 16; ++column) {
            if (image.intMemory(row, column) != 0xFF) {
                std::snprintf(buffer, sizeof buffer, "%04lX:%lX=%02X", row, column,
                              static_cast<unsigned>(image.intMemory(row, column)));
                out.emplace_back(buffer);
            }
        }
    }
    return out;
}

TEST(ReadSRecLine, PassesOverLinesThatAreNotDataRecords)
{
    const std::string s2 = srec(2, 0x0C0000, {0x12, 0x34});
    for (const std::string& line : {
             std::string("S0030000FC"),   // header
             std::string("S804000000FB"), // end record: its address is not a data address
             std::string("S9030000FC"), std::string("S5030003F9"), std::string("S7050000000000"),
             "s" + s2.substr(1), // lower-case S
             " " + s2,           // leading blank
             std::string(), std::string("S"),
             std::string("S2"),             // no count: no digits read as 0
             "SX" + s2.substr(2),           // type that is no digit reads as 0
             std::string("S1030000FC"),     // S1 without data never reaches the image
             std::string("S2ZZ0C00001234"), // count without digits: nothing to store
         }) {
        SCOPED_TRACE(line);
        MemoryImage image;
        EXPECT_NO_THROW(ReadSRecLine(image, line));
        EXPECT_EQ(changes(image), std::vector<std::string>{});
    }
}

TEST(ReadSRecLine, S2RecordRunsOnIntoTheFollowingRows)
{
    MemoryImage image;
    ReadSRecLine(image, srec(2, 0x0C0006, counting(32)));
    for (long a = 0xC0000; a < 0xC0030; ++a) {
        const int expected = a >= 0xC0006 && a < 0xC0026 ? static_cast<int>(a - 0xC0006) : 0xFF;
        EXPECT_EQ(image.intMemory(a >> 4, a & 0xF), expected) << std::hex << a;
    }
    EXPECT_TRUE(image.blnRowUsed(0xC000));
    EXPECT_TRUE(image.blnRowUsed(0xC001));
    EXPECT_TRUE(image.blnRowUsed(0xC002));
    EXPECT_EQ(image.usedRowCount(), 3);
}

TEST(ReadSRecLine, ErasedBytesAreStoredButLeaveFlagsAsTheyWere)
{
    MemoryImage image;
    ReadSRecLine(image, srec(2, 0x0C0100, std::vector<std::uint8_t>(32, 0xFF)));
    EXPECT_EQ(changes(image), std::vector<std::string>{});

    // A row already flagged stays flagged when 0xFF overwrites its only data byte.
    ReadSRecLine(image, srec(2, 0x0C0205, {0x00}));
    ReadSRecLine(image, srec(2, 0x0C0205, {0xFF}));
    EXPECT_EQ(changes(image), std::vector<std::string>{"flag C020"});

    // One byte below 0xFF among erased ones flags its row only.
    ReadSRecLine(image, srec(2, 0x0C0300, {0xFF, 0xFF, 0xFE, 0xFF}));
    EXPECT_EQ(changes(image), (std::vector<std::string>{"flag C020", "flag C030", "C030:2=FE"}));
}

TEST(ReadSRecLine, StoresARecordWhoseChecksumIsWrong)
{
    const std::string good = srec(2, 0x0D0000, counting(32, 0x40));
    std::string bad = good;
    bad.back() = bad.back() == '0' ? '1' : '0';
    MemoryImage fromGood;
    MemoryImage fromBad;
    ReadSRecLine(fromGood, good);
    ReadSRecLine(fromBad, bad);
    EXPECT_EQ(changes(fromBad), changes(fromGood));
    EXPECT_EQ(changes(fromBad).size(), 32u + 2u);
}

TEST(ReadSRecLine, ShortLineReadsMissingPairsAsZero)
{
    MemoryImage image;
    ReadSRecLine(image, "S2240C0000AABB"); // says 32 data bytes, carries two
    EXPECT_EQ(image.intMemory(0xC000, 0), 0xAA);
    EXPECT_EQ(image.intMemory(0xC000, 1), 0xBB);
    for (long a = 0xC0002; a < 0xC0020; ++a)
        EXPECT_EQ(image.intMemory(a >> 4, a & 0xF), 0) << std::hex << a;
    EXPECT_EQ(image.intMemory(0xC002, 0), 0xFF);
    EXPECT_EQ(image.usedRowCount(), 2);
}

// One line into a fresh image: every cell and flag it changes, and whether the image refused one
// of its bytes (those before it stay stored).
TEST(ReadSRecLine, HexValuesStopAtTheFirstNonDigitAcceptLowerCaseAndStayInTheImage)
{
    struct Case {
        std::string line;
        std::vector<std::string> changes;
        bool refused = false;
    };
    const std::vector<std::string> kTopRow{"flag FFFF", "FFFF:8=01", "FFFF:9=02",
                                           "FFFF:A=03", "FFFF:B=04", "FFFF:C=05",
                                           "FFFF:D=06", "FFFF:E=07", "FFFF:F=08"};
    for (const Case& c : {
             Case{"S2050C0000abFF", {"flag C000", "C000:0=AB"}},
             Case{"S2050c00a07FFF", {"flag C00A", "C00A:0=7F"}},
             Case{"S2050C001b42FF", {"flag C001", "C001:B=42"}},
             Case{"S2050C00001GFF", {"flag C000", "C000:0=01"}},
             Case{"S2050C0000G1FF", {"flag C000", "C000:0=00"}},
             Case{"S2050C0000 7FF", {"flag C000", "C000:0=00"}},
             // A lone last digit is read as a one-digit value.
             Case{"S2050C0000A", {"flag C000", "C000:0=0A"}},
             // A lower-case count is hexadecimal too: 0x0a is six data bytes after the address.
             Case{"S20a0C0000010203040506070809",
                  {"flag C000", "C000:0=01", "C000:1=02", "C000:2=03", "C000:3=04", "C000:4=05",
                   "C000:5=06"}},
             // A non-digit inside the address cuts it short: row 0x0C0 lies outside the image.
             Case{"S2050C0G0012FF", {}, true},
             // S3 at the top of the image; a ninth byte would be 0x100000: refused, after the eight
             // before it were stored.
             Case{srec(3, 0x000FFFF8, counting(8, 1)), kTopRow},
             Case{srec(3, 0x000FFFF8, counting(9, 1)), kTopRow, true},
             // S1 data never fits: its row is at most 0xFFF, whatever the byte.
             Case{srec(1, 0xFFF0, {0x00, 0x01}), {}, true},
             Case{srec(1, 0xFFF0, {0xFF, 0x01}), {}, true},
         }) {
        SCOPED_TRACE(c.line);
        MemoryImage image;
        bool refused = false;
        try {
            ReadSRecLine(image, c.line);
        } catch (const ImageRangeError&) {
            refused = true;
        }
        EXPECT_EQ(refused, c.refused);
        EXPECT_EQ(changes(image), c.changes);
    }
}

} // namespace
} // namespace tqb9
