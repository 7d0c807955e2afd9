#include "image/firmwaretable.h"

#include "image/memoryimage.h"
#include "image/srecord.h"

#include <cstddef>
#include <iterator>

namespace tqb9 {
namespace {

using namespace std::string_view_literals;

// The lines of image/firmware.s19, or of the firmware file the build was given, compiled in.
constexpr std::string_view kFirmwareLines[] = {
#include "firmwarelines.inc"
};

constexpr std::size_t kLineCount = std::size(kFirmwareLines);
#if TQB9_BUILT_IN_TEST_IMAGE
static_assert(kLineCount == 8023,
              "image/firmware.s19 must hold the 8,023 lines the table is laid out for");
#endif
// A converted file has at most one S2 line per 32 bytes of the 256 KB image, and two more.
static_assert(kLineCount <= FirmwareTable::kCapacity);

// Copies entries first..last, those of them the firmware has.
void copyLines(FirmwareTable& table, std::size_t first, std::size_t last)
{
    for (std::size_t j = first; j <= last && j < kLineCount; ++j)
        table.strSRec[j] = kFirmwareLines[j];
}

} // namespace

std::span<const std::string_view> builtInFirmwareLines()
{
    return kFirmwareLines;
}

void FirmwareTable::FillSRecTable1()
{
    copyLines(*this, 0, 2999);
}

void FirmwareTable::FillSRecTable2()
{
    copyLines(*this, 3000, 5999);
}

void FirmwareTable::FillSRecTable3()
{
    copyLines(*this, 6000, kLineCount - 1);
    lngSRecCount = static_cast<std::int32_t>(kLineCount);
}

void LoadBuiltInFirmware(MemoryImage& image, FirmwareTable& table)
{
    image.ClearMemory();
    table.FillSRecTable1();
    table.FillSRecTable2();
    table.FillSRecTable3();
    for (std::int32_t j = 0; j < table.lngSRecCount; ++j)
        ReadSRecLine(image, table.strSRec[static_cast<std::size_t>(j)]);
}

} // namespace tqb9
