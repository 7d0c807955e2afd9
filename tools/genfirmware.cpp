// tq-b9-genfirmware OUTPUT
//
// Writes the firmware image the program carries (image/firmware.s19). We do not have the radio's
// own firmware, so the built-in image is made up: a deterministic pseudo-random program laid out
// on the memory map below and cut into S2 records the way a linker's S-record writer cuts
// sections. The image's figures that the start-up load, the block write and their tests depend on
// are checked here, before anything is written; a layout edit that breaks one fails loudly.
//
// Nothing here reads the clock or the environment: the same program always writes the same file,
// byte for byte, and a test holds the committed file to that.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::uint32_t kImageStart = 0xC0000;
constexpr std::uint32_t kImageEnd = 0x100000; // one past the last address
constexpr std::uint32_t kImageSize = kImageEnd - kImageStart;
constexpr std::uint32_t kRowSize = 16;
constexpr std::uint32_t kBlockSize = 1024;
// The top 4 KB is the radio's boot block: the block write never sends it, but the image holds it.
constexpr std::uint32_t kBootBlock = 0xFF000;

struct Range {
    std::uint32_t first;
    std::uint32_t length;
};

// Address ranges no record covers: the holes between the linker's sections. The large one at
// 0xE4268 spans two whole 1 KB blocks, the one below the boot block ends exactly at it, and the
// one at 0xFF4F6 is the unused part of the boot block up to its vector table. Where each gap starts
// and ends within its 32-byte window decides how many short records the cut makes, so moving a
// gap means the record figures checked below have to be met again.
constexpr std::array<Range, 44> kGaps{{
    {0xC10D0, 83},  {0xC190C, 148},  {0xC23DD, 20},  {0xC276F, 33}, {0xC47CF, 7},    {0xC5D8F, 65},
    {0xC832E, 2},   {0xC91B0, 18},   {0xCAFED, 148}, {0xCDEBF, 18}, {0xD0230, 2},    {0xD061E, 18},
    {0xD10AF, 1},   {0xD18FF, 18},   {0xD297D, 20},  {0xD45DD, 20}, {0xD4BB0, 20},   {0xD57CD, 53},
    {0xD879C, 149}, {0xDB45E, 19},   {0xDBA7D, 22},  {0xDC54E, 21}, {0xDD04D, 67},   {0xDD36F, 18},
    {0xDDD8C, 24},  {0xE156E, 22},   {0xE29AE, 51},  {0xE38DE, 5},  {0xE4268, 3218}, {0xE5B4F, 1},
    {0xE74C0, 81},  {0xE7ACE, 5},    {0xE948E, 3},   {0xE982E, 52}, {0xEE88F, 1},    {0xEFB4C, 21},
    {0xF20DD, 86},  {0xF377D, 23},   {0xF668E, 19},  {0xF6C6D, 4},  {0xF886E, 2},    {0xFB0DC, 70},
    {0xFEFFE, 2},   {0xFF4F6, 2814},
}};

// Sections the linker padded with erased bytes up to a 256-byte boundary. They are data like any
// other, so the image also has rows that records cover and that still hold only 0xFF.
constexpr std::array<Range, 2> kPadding{{{0xCF7A3, 0x5D}, {0xF4FE9, 0x17}}};

// Vector table at the very top: three little-endian addresses into the boot block.
constexpr std::uint32_t kVectors = 0xFFFF4;
constexpr std::array<std::uint32_t, 3> kVectorTargets{0xFF000, 0xFF0A0, 0xFF1C4};

// The figures the image must meet.
constexpr std::size_t kLines = 8023;
constexpr std::size_t kFullRecords = 7906;
constexpr std::size_t kShortRecords = 115;
constexpr std::size_t kCharacters = 605574;
constexpr std::uint32_t kCovered = 254650;
constexpr std::size_t kGapCount = 44;
constexpr std::uint32_t kSmallestGap = 1;
constexpr std::uint32_t kLargestGap = 3218;
constexpr int kFlaggedRows = 15921;
constexpr int kBlocksWithData = 250; // of the 252 blocks below the boot block
constexpr int kBootRowsWithData = 81;

constexpr std::string_view kHeader = "S0030000FC";
constexpr std::string_view kTrailer = "S804000000FB";

// splitmix64: tiny, and fully defined by the standard's unsigned arithmetic, unlike the
// distributions of <random>, whose output differs between standard libraries.
class Prng {
public:
    explicit Prng(std::uint64_t seed) : m_state(seed) {}
    std::uint64_t next()
    {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    std::uint32_t below(std::uint32_t n) { return static_cast<std::uint32_t>(next() % n); }
    std::uint32_t between(std::uint32_t lo, std::uint32_t hi) { return lo + below(hi - lo + 1); }

private:
    std::uint64_t m_state;
};

// One cell per image address; -1 where no record covers it.
using Image = std::vector<int>;

int& at(Image& image, std::uint32_t address)
{
    return image[address - kImageStart];
}
int at(const Image& image, std::uint32_t address)
{
    return image[address - kImageStart];
}

[[noreturn]] void fail(const std::string& what)
{
    std::cerr << "tq-b9-genfirmware: " << what << '\n';
    std::exit(1);
}

void require(bool ok, const std::string& what)
{
    if (!ok)
        fail(what);
}

// Fills every covered cell with something that looks like a program: code with its common
// opcode and operand bytes, message texts, zeroed tables, word tables and short runs of 0xFF.
// Two runs of 0xFF never follow each other, so no row turns all-0xFF by accident.
void fillContent(Image& image)
{
    static constexpr std::array<std::uint8_t, 16> kCommonBytes{0x00, 0x01, 0x02, 0x04, 0x08, 0x0F,
                                                               0x20, 0x3C, 0x73, 0x7C, 0xA0, 0xB0,
                                                               0xC8, 0xE8, 0xF5, 0xFE};
    static constexpr std::array<std::string_view, 12> kTexts{
        "TQ-B9E",      "CH",   "MEMORY", "SCAN", "VFO", "SQL",
        "LOW BATTERY", "BUSY", "LOCK",   "TX",   "RX",  "FLASH"};
    enum class Kind { Code, Text, Zeros, Words, Erased };

    Prng prng(0x7142B9E5000ull);
    Kind kind = Kind::Code;
    std::uint32_t left = 0;
    std::uint32_t text = 0;
    std::uint32_t textPos = 0;
    std::uint32_t word = 0;
    for (std::uint32_t a = kImageStart; a < kImageEnd; ++a) {
        if (at(image, a) < 0)
            continue;
        if (left == 0) {
            const Kind previous = kind;
            const std::uint32_t pick = prng.below(100);
            if (pick < 70) {
                kind = Kind::Code;
                left = prng.between(16, 240);
            } else if (pick < 80) {
                kind = Kind::Text;
                text = prng.below(kTexts.size());
                textPos = 0;
                left = static_cast<std::uint32_t>(kTexts[text].size()) + 1;
            } else if (pick < 88) {
                kind = Kind::Zeros;
                left = prng.between(4, 48);
            } else if (pick < 95) {
                kind = Kind::Words;
                word = prng.below(0x8000);
                left = 2 * prng.between(4, 24);
            } else if (previous != Kind::Erased) {
                kind = Kind::Erased;
                left = prng.between(2, 10);
            } else {
                kind = Kind::Code;
                left = prng.between(16, 240);
            }
        }
        std::uint32_t value = 0;
        switch (kind) {
        case Kind::Code:
            value = prng.below(4) == 0 ? kCommonBytes[prng.below(kCommonBytes.size())]
                                       : prng.below(256);
            break;
        case Kind::Text:
            value = textPos < kTexts[text].size() ? static_cast<std::uint8_t>(kTexts[text][textPos])
                                                  : 0;
            ++textPos;
            break;
        case Kind::Zeros:
            value = 0;
            break;
        case Kind::Words:
            value = left % 2 == 0 ? word & 0xFF : (word >> 8) & 0xFF;
            if (left % 2 == 1)
                word += prng.between(1, 64);
            break;
        case Kind::Erased:
            value = 0xFF;
            break;
        }
        at(image, a) = static_cast<int>(value);
        --left;
    }

    for (const Range& pad : kPadding) {
        for (std::uint32_t a = pad.first; a < pad.first + pad.length; ++a) {
            require(at(image, a) >= 0, "padding reaches into a gap");
            at(image, a) = 0xFF;
        }
    }
    std::uint32_t a = kVectors;
    for (const std::uint32_t target : kVectorTargets) {
        for (int shift = 0; shift < 32; shift += 8)
            at(image, a++) = static_cast<int>((target >> shift) & 0xFF);
    }
    require(a == kImageEnd, "the vector table does not end at the top of the image");
}

struct Record {
    std::uint32_t address;
    std::uint32_t length;
};

// Records as a linker's writer cuts a section: whole 32-byte records on 32-byte boundaries, and at
// a section's unaligned start or end, pieces that stop at 16-byte boundaries.
std::vector<Record> cutRecords(const Image& image)
{
    std::vector<Record> records;
    std::uint32_t a = kImageStart;
    while (a < kImageEnd) {
        if (at(image, a) < 0) {
            ++a;
            continue;
        }
        std::uint32_t end = a; // one past the end of this covered run
        while (end < kImageEnd && at(image, end) >= 0)
            ++end;
        for (std::uint32_t cur = a; cur < end;) {
            const std::uint32_t next =
                cur % 32 == 0 && cur + 32 <= end ? cur + 32 : std::min(end, (cur | 15) + 1);
            records.push_back({cur, next - cur});
            cur = next;
        }
        a = end;
    }
    return records;
}

std::string hex(std::uint32_t value, int digits)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text(static_cast<std::size_t>(digits), '0');
    for (int i = digits - 1; i >= 0; --i, value >>= 4)
        text[static_cast<std::size_t>(i)] = kDigits[value & 0xF];
    return text;
}

std::string s2Line(const Image& image, const Record& record)
{
    const std::uint32_t count = record.length + 4; // address, data, checksum
    std::uint32_t sum =
        count + (record.address >> 16) + ((record.address >> 8) & 0xFF) + (record.address & 0xFF);
    std::string line = "S2" + hex(count, 2) + hex(record.address, 6);
    for (std::uint32_t a = record.address; a < record.address + record.length; ++a) {
        const auto value = static_cast<std::uint32_t>(at(image, a));
        sum += value;
        line += hex(value, 2);
    }
    return line + hex(~sum & 0xFF, 2);
}

bool flagged(const Image& image, std::uint32_t row)
{
    for (std::uint32_t a = row * kRowSize; a < (row + 1) * kRowSize; ++a) {
        if (at(image, a) >= 0 && at(image, a) < 0xFF)
            return true;
    }
    return false;
}

bool holdsData(const Image& image, std::uint32_t row)
{
    for (std::uint32_t a = row * kRowSize; a < (row + 1) * kRowSize; ++a) {
        if (at(image, a) >= 0)
            return true;
    }
    return false;
}

// Everything is measured from the image and the lines themselves, not from the tables above.
void checkFigures(const Image& image, const std::vector<Record>& records,
                  const std::vector<std::string>& lines)
{
    require(lines.size() == kLines, "line count is " + std::to_string(lines.size()));
    require(lines.front() == kHeader && lines.back() == kTrailer, "header or end record");
    std::size_t characters = 0;
    for (const std::string& line : lines)
        characters += line.size();
    require(characters == kCharacters, "character count is " + std::to_string(characters));

    std::uint32_t covered = 0;
    std::vector<Range> gaps;
    for (std::uint32_t a = kImageStart; a < kImageEnd; ++a) {
        if (at(image, a) >= 0) {
            ++covered;
        } else if (a > kImageStart && at(image, a - 1) < 0) {
            ++gaps.back().length;
        } else {
            gaps.push_back({a, 1});
        }
    }
    require(covered == kCovered, "covered addresses: " + std::to_string(covered));
    require(gaps.size() == kGapCount, "gap count is " + std::to_string(gaps.size()));
    const auto [smallest, largest] = std::minmax_element(
        gaps.begin(), gaps.end(), [](Range x, Range y) { return x.length < y.length; });
    require(smallest->length == kSmallestGap && largest->length == kLargestGap, "gap sizes");

    require(records.front().address == kImageStart, "first record is not at the image start");
    require(records.back().address + records.back().length == kImageEnd, "last record");
    std::size_t full = 0;
    std::size_t partial = 0;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const Record& r = records[i];
        if (i > 0)
            require(records[i - 1].address + records[i - 1].length <= r.address, "record order");
        if (r.length == 32) {
            ++full;
            continue;
        }
        ++partial;
        require(r.length >= 1 && r.length <= 31, "record length");
        // A short record sits in the piece between a gap and the first 32-byte boundary.
        const bool nearGap = std::any_of(gaps.begin(), gaps.end(), [&](Range g) {
            return (r.address + r.length <= g.first && g.first - r.address <= 32) ||
                   (r.address >= g.first + g.length &&
                    r.address + r.length - (g.first + g.length) <= 32);
        });
        require(nearGap, "short record at " + hex(r.address, 6) + " is not at a gap");
    }
    require(full == kFullRecords && partial == kShortRecords,
            "records: " + std::to_string(full) + " full, " + std::to_string(partial) + " short");

    int flaggedRows = 0;
    int blocksWithData = 0;
    int bootRowsFlagged = 0;
    int bootRowsWithData = 0;
    for (std::uint32_t row = kImageStart / kRowSize; row < kImageEnd / kRowSize; ++row) {
        flaggedRows += flagged(image, row) ? 1 : 0;
        if (row >= kBootBlock / kRowSize) {
            bootRowsFlagged += flagged(image, row) ? 1 : 0;
            bootRowsWithData += holdsData(image, row) ? 1 : 0;
        }
    }
    constexpr std::uint32_t kRowsPerBlock = kBlockSize / kRowSize;
    for (std::uint32_t block = kImageStart; block < kBootBlock; block += kBlockSize) {
        bool any = false;
        for (std::uint32_t row = block / kRowSize; row < block / kRowSize + kRowsPerBlock; ++row)
            any = any || flagged(image, row);
        blocksWithData += any ? 1 : 0;
    }
    require(flaggedRows == kFlaggedRows, "flagged rows: " + std::to_string(flaggedRows));
    require(blocksWithData == kBlocksWithData,
            "blocks with data: " + std::to_string(blocksWithData));
    require(bootRowsFlagged == kBootRowsWithData && bootRowsWithData == kBootRowsWithData,
            "boot block rows: " + std::to_string(bootRowsFlagged) + " flagged, " +
                std::to_string(bootRowsWithData) + " with data");
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: tq-b9-genfirmware OUTPUT\n";
        return 2;
    }

    Image image(kImageSize, 0);
    for (const Range& gap : kGaps) {
        for (std::uint32_t a = gap.first; a < gap.first + gap.length; ++a)
            at(image, a) = -1;
    }
    fillContent(image);

    const std::vector<Record> records = cutRecords(image);
    std::vector<std::string> lines;
    lines.reserve(records.size() + 2);
    lines.emplace_back(kHeader);
    for (const Record& record : records)
        lines.push_back(s2Line(image, record));
    lines.emplace_back(kTrailer);

    checkFigures(image, records, lines);

    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    for (const std::string& line : lines)
        out << line << '\n';
    out.close();
    if (!out)
        fail(std::string("cannot write ") + argv[1]);
    return 0;
}
