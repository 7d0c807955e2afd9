#include "image/srecord.h"

#include "image/memoryimage.h"

#include <cstdint>

namespace tqb9 {
namespace {

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
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
        const auto pos = static_cast<std::size_t>(k);
        const auto value = static_cast<std::int16_t>(hexValue(line, pos, pos + 1));
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
