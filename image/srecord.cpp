#include "image/srecord.h"

#include "image/hexdigits.h"
#include "image/memoryimage.h"

#include <array>
#include <cstdint>

namespace tqb9 {
namespace {

int hexDigit(char c)
{
    return kHexDigits[static_cast<unsigned char>(c)];
}

// The characters at 1-based positions first..last read as one hexadecimal number, stopping at the
// first character that is not a digit or past the end of the line. No digits read as 0.
std::int64_t hexValue(std::string_view line, std::size_t first, std::size_t last)
{
    std::int64_t value = 0;
    for (std::size_t pos = first; pos <= last && pos <= line.size(); ++pos) {
        const int digit = hexDigit(line[pos - 1]);
        if (digit < 0)
            break;
        value = value * 16 + digit;
    }
    return value;
}

// The data pair at 1-based position pos. Nearly every pair is two digits inside the line; the
// rest (a short line, a stray character) take the general rule.
int pairValue(std::string_view line, std::size_t pos)
{
    if (pos < line.size()) {
        const int high = hexDigit(line[pos - 1]);
        const int low = hexDigit(line[pos]);
        if ((high | low) >= 0)
            return high * 16 + low;
    }
    return static_cast<int>(hexValue(line, pos, pos + 1));
}

} // namespace

void ReadSRecLine(MemoryImage& image, std::string_view line)
{
    if (line.empty() || line[0] != 'S')
        return;
    const int type = line.size() > 1 && line[1] >= '0' && line[1] <= '9' ? line[1] - '0' : 0;
    if (type == 0 || type > 3)
        return;

    const std::int64_t count = hexValue(line, 3, 4);
    // S1, S2, S3 carry 4, 6, 8 address digits from position 5; the last digit is the column.
    const std::size_t addressDigits = static_cast<std::size_t>(2 + 2 * type);
    const std::size_t columnAt = 4 + addressDigits;
    std::int64_t row = hexValue(line, 5, columnAt - 1);
    std::int64_t column = hexValue(line, columnAt, columnAt);

    // Every pair up to the checksum, which is neither read nor checked. Pairs past the end of a
    // short line read as 0 and are stored as such.
    const std::int64_t lastData = 2 * count + 2;
    for (std::int64_t k = static_cast<std::int64_t>(columnAt) + 1; k <= lastData; k += 2) {
        const auto value = static_cast<std::int16_t>(pairValue(line, static_cast<std::size_t>(k)));
        if (value < 0xFF)
            image.markRowUsed(row);
        image.setMemory(row, column, value);
        if (++column > 15) {
            column = 0;
            ++row;
        }
    }
}

} // namespace tqb9
