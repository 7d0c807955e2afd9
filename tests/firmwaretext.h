#pragma once

// Firmware files written by the tests' own writers, independent of the program's converter: an
// image as address -> byte, out as S-record or Intel HEX text.

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace tqb9::testfiles {

using Image = std::map<std::uint32_t, std::uint8_t>;

inline std::string hex2(unsigned value)
{
    char text[4];
    std::snprintf(text, sizeof text, "%02X", value & 0xFF);
    return text;
}

// One S-record: S<type>, count, address of 2/3/4 bytes, data, checksum.
inline std::string srec(int type, std::uint32_t address, const std::vector<std::uint8_t>& data)
{
    static constexpr int kAddressBytes[] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};
    const int addressBytes = kAddressBytes[type];
    const unsigned count = static_cast<unsigned>(addressBytes + data.size() + 1);
    std::string line = "S" + std::to_string(type) + hex2(count);
    unsigned sum = count;
    for (int i = addressBytes - 1; i >= 0; --i) {
        line += hex2(address >> (8 * i));
        sum += (address >> (8 * i)) & 0xFF;
    }
    for (const std::uint8_t b : data) {
        line += hex2(b);
        sum += b;
    }
    return line + hex2(~sum);
}

// One Intel HEX record: count, 16-bit offset, type, data, checksum.
inline std::string ihex(int type, std::uint32_t offset, const std::vector<std::uint8_t>& data)
{
    std::string line = ":" + hex2(static_cast<unsigned>(data.size())) + hex2(offset >> 8) +
                       hex2(offset) + hex2(static_cast<unsigned>(type));
    unsigned sum = static_cast<unsigned>(data.size()) + (offset >> 8) + offset + type;
    for (const std::uint8_t b : data) {
        line += hex2(b);
        sum += b;
    }
    return line + hex2(0x100 - (sum & 0xFF));
}

// Runs of consecutive addresses, at most perRecord long, never crossing a 64 KB boundary.
inline std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>> runs(const Image& image,
                                                                             std::size_t perRecord)
{
    std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>> out;
    for (const auto& [address, value] : image) {
        if (out.empty() || out.back().first + out.back().second.size() != address ||
            out.back().second.size() == perRecord || (address & 0xFFFF) == 0)
            out.push_back({address, {}});
        out.back().second.push_back(value);
    }
    return out;
}

// type 2 or 3 data records between a header and the matching end record.
inline std::vector<std::string> srecLines(const Image& image, int type, std::size_t perRecord = 32)
{
    std::vector<std::string> lines{srec(0, 0, {'t', 'e', 's', 't'})};
    for (const auto& [address, data] : runs(image, perRecord))
        lines.push_back(srec(type, address, data));
    lines.push_back(srec(type == 3 ? 7 : 8, 0, {}));
    return lines;
}

// Intel HEX with extended segment (02) or extended linear (04) address records.
inline std::vector<std::string> hexLines(const Image& image, int addressType,
                                         std::size_t perRecord = 32)
{
    std::vector<std::string> lines;
    std::uint32_t base = 0xFFFFFFFF;
    for (const auto& [address, data] : runs(image, perRecord)) {
        if ((address & 0xFFFF0000) != base) {
            base = address & 0xFFFF0000;
            const std::uint32_t value = addressType == 2 ? base >> 4 : base >> 16;
            lines.push_back(
                ihex(addressType, 0,
                     {static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)}));
        }
        lines.push_back(ihex(0, address & 0xFFFF, data));
    }
    lines.push_back(ihex(1, 0, {}));
    return lines;
}

inline std::string joined(const std::vector<std::string>& lines, const char* end = "\n")
{
    std::string text;
    for (const std::string& line : lines)
        text += line + end;
    return text;
}

// A made-up firmware that is not the test image: counting bytes over a few sections, one of
// them in the boot block, with 0xFF given in places, and some data in every flash block a run
// erases.
inline Image sampleImage()
{
    Image image;
    for (const std::uint32_t section : {0xD8000u, 0xF4000u, 0xF9000u, 0xFB000u, 0xFD000u}) {
        for (std::uint32_t a = section; a < section + 16; ++a)
            image[a] = static_cast<std::uint8_t>(a >> 12);
    }
    for (std::uint32_t a = 0xC0000; a < 0xC1234; ++a)
        image[a] = static_cast<std::uint8_t>(a * 13 + (a >> 9));
    for (std::uint32_t a = 0xE0FF0; a < 0xE2010; ++a)
        image[a] = static_cast<std::uint8_t>(a >> 3);
    for (std::uint32_t a = 0xFEF00; a < 0xFF100; ++a)
        image[a] = static_cast<std::uint8_t>(a ^ 0x5A);
    return image;
}

} // namespace tqb9::testfiles
