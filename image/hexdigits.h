#pragma once

#include <array>
#include <cstdint>

namespace tqb9 {

// Value of each character as a hexadecimal digit in either case, -1 for every other character. A
// table because the start-up load and a firmware file's check each look up over half a million
// characters.
inline constexpr std::array<std::int8_t, 256> kHexDigits = [] {
    std::array<std::int8_t, 256> digits{};
    digits.fill(-1);
    for (int c = '0'; c <= '9'; ++c)
        digits[static_cast<std::size_t>(c)] = static_cast<std::int8_t>(c - '0');
    for (int c = 'A'; c <= 'F'; ++c) {
        digits[static_cast<std::size_t>(c)] = static_cast<std::int8_t>(c - 'A' + 10);
        digits[static_cast<std::size_t>(c - 'A' + 'a')] = static_cast<std::int8_t>(c - 'A' + 10);
    }
    return digits;
}();

} // namespace tqb9
