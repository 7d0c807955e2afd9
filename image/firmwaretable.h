#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace tqb9 {

class MemoryImage;

// The firmware the program carries, as the S-record lines compiled into it.
std::span<const std::string_view> builtInFirmwareLines();

// The table the start-up load reads from. Entries point at the compiled-in text; nothing is read
// from disk.
class FirmwareTable {
public:
    static constexpr int kCapacity = 9000;

    void FillSRecTable1(); // entries 0..2999
    void FillSRecTable2(); // entries 3000..5999
    void FillSRecTable3(); // entries 6000..8022, then the count

    std::array<std::string_view, kCapacity> strSRec{};
    std::int32_t lngSRecCount = 0;
};

// Clears the image, fills the table and reads every line of it into the image.
void LoadBuiltInFirmware(MemoryImage& image, FirmwareTable& table);

} // namespace tqb9
