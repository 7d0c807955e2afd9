// Placeholder until the generated firmware lands: an empty table, so the engine links.
#include "image/firmwaretable.h"

#include "image/memoryimage.h"
#include "image/srecord.h"

namespace tqb9 {

std::span<const std::string_view> builtInFirmwareLines() { return {}; }
void FirmwareTable::FillSRecTable1() {}
void FirmwareTable::FillSRecTable2() {}
void FirmwareTable::FillSRecTable3() {}

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
