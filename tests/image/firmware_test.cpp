// The built-in firmware after the start-up load. The records are decoded here by a decoder of the
// test's own, so the image is compared with the text rather than with a second run of the reader.
#include "firmwaretext.h"
#include "image/firmware.h"
#include "image/firmwaretable.h"
#include "image/memoryimage.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace tqb9 {
namespace {

constexpr long kStart = 0xC0000;
constexpr long kEnd = 0x100000;

struct Decoded {
    char type;
    std::uint32_t address;
    std::vector<std::uint8_t> data;
};

// Read loosely, then written again by the tests' own writer: only a record with upper-case digits
// and its byte count and checksum right comes out as the same line.
std::optional<Decoded> decode(std::string_view line)
{
    if (line.size() < 4 || line[0] != 'S' || (line[1] != '0' && line[1] != '2' && line[1] != '8'))
        return std::nullopt;
    std::vector<std::uint8_t> bytes; // count, address, data, checksum
    for (std::size_t i = 2; i + 1 < line.size(); i += 2) {
        unsigned value = 0;
        if (std::from_chars(line.data() + i, line.data() + i + 2, value, 16).ptr !=
            line.data() + i + 2)
            return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(value));
    }
    const std::size_t addressBytes = line[1] == '0' ? 2 : 3;
    if (bytes.size() < addressBytes + 2)
        return std::nullopt;
    Decoded d{line[1],
              0,
              {bytes.begin() + 1 + static_cast<std::ptrdiff_t>(addressBytes), bytes.end() - 1}};
    for (std::size_t i = 1; i <= addressBytes; ++i)
        d.address = d.address << 8 | bytes[i];
    if (testfiles::srec(line[1] - '0', d.address, d.data) != line)
        return std::nullopt;
    return d;
}

class BuiltInFirmware : public testing::Test {
protected:
    void SetUp() override
    {
        LoadBuiltInFirmware(*m_image, *m_table);
        // A build given real firmware with -DTQB9_FIRMWARE carries none of these figures.
        if (!isTestImage(*m_image))
            GTEST_SKIP() << "the built-in firmware is not the test image";
        m_expected.assign(kEnd - kStart, -1);
        for (const std::string_view line : builtInFirmwareLines()) {
            const auto d = decode(line);
            ASSERT_TRUE(d) << line;
            if (d->type != '2')
                continue;
            m_records.push_back(*d);
            for (std::size_t i = 0; i < d->data.size(); ++i)
                m_expected[d->address + i - kStart] = d->data[i];
        }
    }

    int expectedAt(long address) const
    {
        return m_expected[static_cast<std::size_t>(address - kStart)];
    }
    bool expectFlag(long row) const
    {
        for (long a = row * 16; a < row * 16 + 16; ++a) {
            if (expectedAt(a) >= 0 && expectedAt(a) < 0xFF)
                return true;
        }
        return false;
    }

    std::unique_ptr<MemoryImage> m_image = std::make_unique<MemoryImage>();
    std::unique_ptr<FirmwareTable> m_table = std::make_unique<FirmwareTable>();
    std::vector<Decoded> m_records;
    std::vector<int> m_expected; // per address, -1 where no record covers it
};

TEST_F(BuiltInFirmware, RecordsAreOrderedS2DataOfTheStatedSizes)
{
    const auto lines = builtInFirmwareLines();
    std::size_t characters = 0;
    for (const std::string_view line : lines)
        characters += line.size();
    EXPECT_EQ(characters, 605574u);

    // With the header first and the end record last, every entry between is an S2 record.
    ASSERT_EQ(lines.size(), 8023u);
    ASSERT_EQ(m_records.size(), 8021u);
    EXPECT_EQ(lines.front(), "S0030000FC");
    EXPECT_EQ(lines.back(), "S804000000FB");
    EXPECT_EQ(m_records.front().address, 0xC0000u);
    EXPECT_EQ(m_records.back().address + m_records.back().data.size(), 0x100000u);

    std::size_t full = 0;
    std::size_t partial = 0;
    for (std::size_t i = 0; i < m_records.size(); ++i) {
        const Decoded& r = m_records[i];
        if (i > 0) {
            const Decoded& p = m_records[i - 1];
            ASSERT_LE(p.address + p.data.size(), r.address) << "record " << i + 1;
        }
        if (r.data.size() == 32) {
            ++full;
            EXPECT_EQ(lines[i + 1].size(), 76u);
            continue;
        }
        ++partial;
        ASSERT_GE(r.data.size(), 1u);
        ASSERT_LE(r.data.size(), 31u);
        // Short records come from the pieces next to a gap, never from the middle of a section.
        const long first = r.address;
        const long last = first + static_cast<long>(r.data.size()) - 1;
        bool nearGap = false;
        for (long a = std::max(kStart, first - 31); a <= std::min(kEnd - 1, last + 31); ++a)
            nearGap = nearGap || expectedAt(a) < 0;
        EXPECT_TRUE(nearGap) << std::hex << first;
    }
    EXPECT_EQ(full, 7906u);
    EXPECT_EQ(partial, 115u);
}

TEST_F(BuiltInFirmware, CoversAllButFortyFourGaps)
{
    long covered = 0;
    std::vector<long> gaps;
    for (long a = kStart; a < kEnd; ++a) {
        if (expectedAt(a) >= 0)
            ++covered;
        else if (a > kStart && expectedAt(a - 1) < 0)
            ++gaps.back();
        else
            gaps.push_back(1);
    }
    EXPECT_EQ(covered, 254650);
    ASSERT_EQ(gaps.size(), 44u);
    EXPECT_EQ(*std::min_element(gaps.begin(), gaps.end()), 1);
    EXPECT_EQ(*std::max_element(gaps.begin(), gaps.end()), 3218);
}

TEST_F(BuiltInFirmware, EveryAddressReadsItsRecordsByteOrErased)
{
    long mismatches = 0;
    for (long a = kStart; a < kEnd; ++a) {
        const int expected = expectedAt(a) >= 0 ? expectedAt(a) : 0xFF;
        if (m_image->intMemory(a >> 4, a & 0xF) != expected && ++mismatches <= 10)
            ADD_FAILURE() << std::hex << "address " << a << " holds "
                          << m_image->intMemory(a >> 4, a & 0xF) << ", expected " << expected;
    }
    EXPECT_EQ(mismatches, 0);
}

TEST_F(BuiltInFirmware, RowFlagsMarkExactlyTheRowsWithData)
{
    int flagged = 0;
    for (long row = 0xC000; row <= 0xFFFF; ++row) {
        ASSERT_EQ(m_image->blnRowUsed(row), expectFlag(row)) << std::hex << row;
        flagged += m_image->blnRowUsed(row) ? 1 : 0;
    }
    EXPECT_EQ(flagged, 15921);
    EXPECT_EQ(m_image->usedRowCount(), 15921);
}

TEST_F(BuiltInFirmware, LoadingAgainStartsFromAClearedImage)
{
    m_image->setMemory(0xE440, 0, 0x00); // inside the large gap
    m_image->markRowUsed(0xE440);
    LoadBuiltInFirmware(*m_image, *m_table);
    EXPECT_EQ(m_image->intMemory(0xE440, 0), 0xFF);
    EXPECT_FALSE(m_image->blnRowUsed(0xE440));
    EXPECT_EQ(m_image->usedRowCount(), 15921);
}

} // namespace
} // namespace tqb9
